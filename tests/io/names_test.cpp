// Name files: what the writers write byte for byte, that the readers read it
// back, and that every malformed file is refused with its file and line.
#include <gtest/gtest.h>

#include "io/names.h"

#include "../test_support.h"

namespace {

template <class Names, class Write>
std::string written(const Names &names, Write write)
{
    std::ostringstream out;
    write(out, names);
    return out.str();
}

} // namespace

TEST(NameFiles, WrittenByteForByteAndReadBack)
{
    FeatureNames features;
    features.ids = {"otu9", "otu1"};
    const std::string plain = "column\tfeature-id\n0\totu9\n1\totu1\n";
    EXPECT_EQ(written(features, writeFeatureNames), plain);
    features.hasTaxonomy = true;
    features.taxonomy = {"k__Bacteria; p__Firmicutes", ""};
    const std::string withTaxonomy = "column\tfeature-id\ttaxonomy\n0\totu9\tk__Bacteria; p__Firmicutes\n1\totu1\t\n";
    EXPECT_EQ(written(features, writeFeatureNames), withTaxonomy);
    FeatureNames back;
    ASSERT_EQ(readFeatureNames(scratchFile("names.tsv", withTaxonomy), back), "");
    EXPECT_TRUE(back.hasTaxonomy);
    EXPECT_EQ(back.ids, features.ids);
    EXPECT_EQ(back.taxonomy, features.taxonomy);
    ASSERT_EQ(readFeatureNames(scratchFile("names.tsv", plain), back), "");
    EXPECT_FALSE(back.hasTaxonomy);
    EXPECT_TRUE(back.taxonomy.empty());

    SampleNames samples;
    samples.ids = {"S2", "S1"};
    samples.hasClasses = true;
    samples.classes = {"gut", "soil"};
    const std::string labelled = "line\tsample-id\tclass\n1\tS2\tgut\n2\tS1\tsoil\n";
    EXPECT_EQ(written(samples, writeSampleNames), labelled);
    SampleNames samplesBack;
    ASSERT_EQ(readSampleNames(scratchFile("names.tsv", labelled), samplesBack), "");
    EXPECT_TRUE(samplesBack.hasClasses);
    EXPECT_EQ(samplesBack.classes, samples.classes);
    samples.hasClasses = false;
    samples.classes.clear();
    EXPECT_EQ(written(samples, writeSampleNames), "line\tsample-id\n1\tS2\n2\tS1\n");
    // Read back with Windows line ends, as a spreadsheet may save it.
    ASSERT_EQ(readSampleNames(scratchFile("names.tsv", "line\tsample-id\r\n1\tS2\r\n2\tS1\r\n"), samplesBack), "");
    EXPECT_FALSE(samplesBack.hasClasses);
    EXPECT_EQ(samplesBack.ids, samples.ids);

    ClassNames classes;
    classes.names = {"gut", "soil", "Z"};
    const std::string classText = "class\tname\n1\tgut\n2\tsoil\n3\tZ\n";
    EXPECT_EQ(written(classes, writeClassNames), classText);
    ClassNames classesBack;
    ASSERT_EQ(readClassNames(scratchFile("names.tsv", classText), classesBack), "");
    EXPECT_EQ(classesBack.names, classes.names);
}

TEST(NameFiles, MalformedFilesRefusedWithFileAndLine)
{
    struct Case {
        const char *text;
        const char *problem;  // the message after the file name
    };
    const Case featureCases[] = {
        {"", ": empty file (no header line)"},
        {"column\tfeature-id\n", ": no column after the header"},
        {"column feature-id\n0\ta\n", ":1: the header is not 'column feature-id' or 'column feature-id taxonomy' or 'column feature-id taxonomy grafted' (tab-separated)"},
        {"column\tfeature-id\n1\ta\n", ":2: numbers the column '1' where 0 comes next"},
        {"column\tfeature-id\n0\ta\n01\tb\n", ":3: numbers the column '01' where 1 comes next"},
        {"column\tfeature-id\n0\ta\n1\ta\n", ":3: feature ID 'a' appears twice"},
        {"column\tfeature-id\n0\t\n", ":2: empty feature ID"},
        {"column\tfeature-id\n0\ta\n\n1\tb\n", ":3: empty line"},
        {"column\tfeature-id\ttaxonomy\n0\ta\n", ":2: holds 2 tab-separated fields, the header 3"},
        {"column\tfeature-id\n0\ta\tk__B\n", ":2: holds 3 tab-separated fields, the header 2"},
    };
    for (const auto &c : featureCases) {
        const std::string file = scratchFile("names.tsv", c.text);
        FeatureNames features;
        EXPECT_EQ(readFeatureNames(file, features), file + c.problem) << c.text;
    }
    const Case sampleCases[] = {
        {"line\tsample-id\n0\tS1\n", ":2: numbers the line '0' where 1 comes next"},
        {"line\tsample-id\tclass\n1\tS1\t\n", ":2: empty class name"},
        {"line\tsample-id\tclass\n1\tS1\tgut\n2\tS1\tgut\n", ":3: sample ID 'S1' appears twice"},
    };
    for (const auto &c : sampleCases) {
        const std::string file = scratchFile("names.tsv", c.text);
        SampleNames samples;
        EXPECT_EQ(readSampleNames(file, samples), file + c.problem) << c.text;
    }
    const Case classCases[] = {
        {"class\tname\n1\tgut\n2\tgut\n", ":3: class name 'gut' appears twice"},
        {"class\tname\n1\tgut\n3\tsoil\n", ":3: numbers the class '3' where 2 comes next"},
    };
    for (const auto &c : classCases) {
        const std::string file = scratchFile("names.tsv", c.text);
        ClassNames classes;
        EXPECT_EQ(readClassNames(file, classes), file + c.problem) << c.text;
    }
    ClassNames classes;
    EXPECT_EQ(readClassNames("/nonexistent/classes.tsv", classes), "/nonexistent/classes.tsv: cannot open the file");
    EXPECT_EQ(checkName("a\tb"), "holds a tab");
    EXPECT_EQ(checkName("a\nb"), "holds a line break");
    EXPECT_EQ(checkName("Bacteroides sp. 'x'"), "");
}
