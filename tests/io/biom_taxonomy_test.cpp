// The taxonomy a BIOM 2.1 (HDF5) table holds in its observation metadata.
#include <gtest/gtest.h>

#ifdef ORVANE_HAVE_HDF5
#include <hdf5.h>
#endif

#include "io/table.h"

#include "../test_support.h"

namespace {

TEST(BiomHdf5, TaxonomyFromTheObservationMetadata)
{
#ifndef ORVANE_HAVE_HDF5
    GTEST_SKIP() << "built without HDF5";
#else
    // Two observations of one sample; the taxonomy a 2 x 3 array of levels,
    // as the biom package writes it, with an empty last level.
    TempDir dir;
    const std::string path = dir.path + "t.biom";
    const hid_t file = H5Fcreate(path.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
    const hid_t text = H5Tcopy(H5T_C_S1);
    H5Tset_size(text, H5T_VARIABLE);
    const auto dataset = [&](const char *name, hid_t type, std::vector<hsize_t> dims, const void *values) {
        const hid_t space = H5Screate_simple(static_cast<int>(dims.size()), dims.data(), nullptr);
        const hid_t set = H5Dcreate2(file, name, type, space, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
        H5Dwrite(set, type, H5S_ALL, H5S_ALL, H5P_DEFAULT, values);
        H5Dclose(set);
        H5Sclose(space);
    };
    for (const char *group : {"/observation", "/observation/matrix", "/observation/metadata", "/sample"})
        H5Gclose(H5Gcreate2(file, group, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT));
    const char *observations[] = {"o1", "o2"};
    const char *samples[] = {"s1"};
    const char *taxonomy[] = {"k__A", "p__B", "", "k__A", "p__C", "g__D"};
    const double data[] = {1, 2};
    const int indices[] = {0, 0};
    const int indptr[] = {0, 1, 2};
    dataset("/observation/ids", text, {2}, observations);
    dataset("/sample/ids", text, {1}, samples);
    dataset("/observation/metadata/taxonomy", text, {2, 3}, taxonomy);
    dataset("/observation/matrix/data", H5T_NATIVE_DOUBLE, {2}, data);
    dataset("/observation/matrix/indices", H5T_NATIVE_INT, {2}, indices);
    dataset("/observation/matrix/indptr", H5T_NATIVE_INT, {3}, indptr);
    H5Tclose(text);
    H5Fclose(file);
    CountTable table;
    ASSERT_EQ(readCountTable(path, {}, table), "");
    EXPECT_EQ(table.taxonomy, (std::vector<std::string>{"k__A; p__B", "k__A; p__C; g__D"}));
#endif
}

} // namespace
