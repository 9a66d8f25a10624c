// Reading BIOM 2.1 tables, which are HDF5 files: the observation (feature)
// and sample IDs, and the counts as a compressed sparse row matrix with one
// row per observation, read in blocks of entries straight into each sample's
// nonzero counts.
#include "io/table.h"

#ifdef ORVANE_HAVE_HDF5

#include <algorithm>
#include <cfloat>
#include <cstdint>
#include <cmath>
#include <memory>

#include <hdf5.h>

#include "io/sparse_rows.h"
#include "model/SampleTable.h"

namespace {

// Closes an HDF5 handle when it goes out of scope.
class Handle {
public:
    Handle(hid_t id, herr_t (*close)(hid_t)) : id(id), close(close) {}
    ~Handle()
    {
        if (id >= 0)
            close(id);
    }
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;

    const hid_t id;

private:
    herr_t (*const close)(hid_t);
};

// The length of a one-dimensional dataset, or -1.
long long datasetLength(hid_t dataset)
{
    Handle space(H5Dget_space(dataset), H5Sclose);
    if (space.id < 0 || H5Sget_simple_extent_ndims(space.id) != 1)
        return -1;
    hsize_t length = 0;
    H5Sget_simple_extent_dims(space.id, &length, nullptr);
    return static_cast<long long>(length);
}

bool readStrings(hid_t file, const char *name, std::vector<std::string> &strings)
{
    Handle dataset(H5Dopen2(file, name, H5P_DEFAULT), H5Dclose);
    if (dataset.id < 0)
        return false;
    const long long n = datasetLength(dataset.id);
    Handle type(H5Dget_type(dataset.id), H5Tclose);
    if (n < 0 || type.id < 0 || H5Tget_class(type.id) != H5T_STRING)
        return false;
    strings.assign(static_cast<size_t>(n), "");
    if (n == 0)
        return true;
    if (H5Tis_variable_str(type.id) > 0) {
        Handle memory(H5Tcopy(H5T_C_S1), H5Tclose);
        H5Tset_size(memory.id, H5T_VARIABLE);
        H5Tset_cset(memory.id, H5Tget_cset(type.id));
        std::vector<char *> texts(static_cast<size_t>(n), nullptr);
        if (H5Dread(dataset.id, memory.id, H5S_ALL, H5S_ALL, H5P_DEFAULT, texts.data()) < 0)
            return false;
        for (size_t i = 0; i < texts.size(); i++)
            strings[i] = texts[i] != nullptr ? texts[i] : "";
        Handle space(H5Dget_space(dataset.id), H5Sclose);
        H5Dvlen_reclaim(memory.id, space.id, H5P_DEFAULT, texts.data());
        return true;
    }
    const size_t width = H5Tget_size(type.id);
    if (width == 0 || static_cast<size_t>(n) > SIZE_MAX / width)
        return false;
    std::vector<char> buffer(static_cast<size_t>(n) * width);
    if (H5Dread(dataset.id, type.id, H5S_ALL, H5S_ALL, H5P_DEFAULT, buffer.data()) < 0)
        return false;
    for (size_t i = 0; i < strings.size(); i++) {
        const char *text = buffer.data() + i * width;
        size_t length = 0;
        while (length < width && text[length] != '\0')
            length++;
        strings[i].assign(text, length);
    }
    return true;
}

template <class T>
bool readNumbers(hid_t file, const char *name, hid_t memoryType, std::vector<T> &values)
{
    Handle dataset(H5Dopen2(file, name, H5P_DEFAULT), H5Dclose);
    if (dataset.id < 0)
        return false;
    const long long n = datasetLength(dataset.id);
    if (n < 0)
        return false;
    values.assign(static_cast<size_t>(n), T());
    return n == 0 ||
           H5Dread(dataset.id, memoryType, H5S_ALL, H5S_ALL, H5P_DEFAULT, values.data()) >= 0;
}

// The observations' taxonomy, /observation/metadata/taxonomy: one line of
// level names per observation (two dimensions, as the biom package writes it)
// or one string each, joined by "; ". Left empty when the file has none or
// it does not fit the observations.
void readTaxonomy(hid_t file, CountTable &table)
{
    if (H5Lexists(file, "/observation/metadata", H5P_DEFAULT) <= 0 ||
        H5Lexists(file, "/observation/metadata/taxonomy", H5P_DEFAULT) <= 0)
        return;
    Handle dataset(H5Dopen2(file, "/observation/metadata/taxonomy", H5P_DEFAULT), H5Dclose);
    Handle space(H5Dget_space(dataset.id), H5Sclose);
    Handle type(H5Dget_type(dataset.id), H5Tclose);
    hsize_t dims[2] = {0, 1};
    if (dataset.id < 0 || space.id < 0 || type.id < 0 || H5Tget_class(type.id) != H5T_STRING ||
        H5Tis_variable_str(type.id) <= 0 || H5Sget_simple_extent_ndims(space.id) < 1 ||
        H5Sget_simple_extent_ndims(space.id) > 2 ||
        H5Sget_simple_extent_dims(space.id, dims, nullptr) < 0 || dims[0] != table.features.size() ||
        dims[1] == 0 || dims[1] > 1000)
        return;
    Handle memory(H5Tcopy(H5T_C_S1), H5Tclose);
    H5Tset_size(memory.id, H5T_VARIABLE);
    std::vector<char *> texts(static_cast<size_t>(dims[0] * dims[1]), nullptr);
    if (texts.empty() ||
        H5Dread(dataset.id, memory.id, H5S_ALL, H5S_ALL, H5P_DEFAULT, texts.data()) < 0)
        return;
    table.taxonomy.assign(table.features.size(), "");
    for (size_t f = 0; f < table.features.size(); f++)
        for (size_t level = 0; level < dims[1]; level++) {
            const char *text = texts[f * dims[1] + level];
            if (text != nullptr && *text != '\0')
                table.taxonomy[f] += (table.taxonomy[f].empty() ? "" : "; ") + std::string(text);
        }
    H5Dvlen_reclaim(memory.id, space.id, H5P_DEFAULT, texts.data());
}

// The length of the one-dimensional dataset `name`, or -1.
long long lengthOf(hid_t file, const char *name)
{
    if (H5Lexists(file, name, H5P_DEFAULT) <= 0)
        return -1;
    Handle dataset(H5Dopen2(file, name, H5P_DEFAULT), H5Dclose);
    return dataset.id < 0 ? -1 : datasetLength(dataset.id);
}

// The sizes Orvane can hold, checked on the lengths the file claims before
// anything is allocated for them.
std::string sizeProblem(hid_t file)
{
    const long long nValues = lengthOf(file, "/observation/matrix/data");
    if (nValues > kMostNonzeros)
        return std::to_string(nValues) + " nonzero values are more than this program can hold";
    for (const char *ids : {"/observation/ids", "/sample/ids"}) {
        const long long n = lengthOf(file, ids);
        if (n > kMostCells)
            return std::to_string(n) + (ids[1] == 'o' ? " features" : " samples") +
                   " are more than this program can hold";
    }
    return "";
}

// Entries are read this many at a time: memory for the index and the
// values stays fixed, whatever the table holds.
const hsize_t kBlock = 1 << 18;

// Entries `first` to first + values.size() - 1 of a one-dimensional dataset.
template <class T>
bool readBlock(hid_t dataset, hid_t memoryType, hsize_t first, std::vector<T> &values)
{
    hsize_t count = values.size();
    if (count == 0)
        return true;
    Handle fileSpace(H5Dget_space(dataset), H5Sclose);
    Handle memorySpace(H5Screate_simple(1, &count, nullptr), H5Sclose);
    return fileSpace.id >= 0 && memorySpace.id >= 0 &&
           H5Sselect_hyperslab(fileSpace.id, H5S_SELECT_SET, &first, nullptr, &count, nullptr) >= 0 &&
           H5Dread(dataset, memoryType, memorySpace.id, fileSpace.id, H5P_DEFAULT, values.data()) >= 0;
}

const char *const kUnreadable = "cannot read /observation/matrix (the file is damaged)";

// Checks every column number, block by block, and makes room in each
// sample's row for its entries.
std::string checkedRowSizes(hid_t file, const std::vector<long long> &indptr, CountTable &table)
{
    Handle indices(H5Dopen2(file, "/observation/matrix/indices", H5P_DEFAULT), H5Dclose);
    const hsize_t n = static_cast<hsize_t>(indptr.back());
    SparseColumnsCheck check(indptr, table.samples.size(), table.features, table.samples);
    std::vector<size_t> sizes(table.samples.size(), 0);
    std::vector<long long> block;
    for (hsize_t first = 0; first < n; first += kBlock) {
        block.resize(std::min(kBlock, n - first));
        if (!readBlock(indices.id, H5T_NATIVE_LLONG, first, block))
            return kUnreadable;
        const std::string problem = check.next(block.data(), block.size());
        if (!problem.empty())
            return problem;
        for (const long long sample : block)
            sizes[static_cast<size_t>(sample)]++;
    }
    table.rows.assign(table.samples.size(), {});
    for (size_t s = 0; s < sizes.size(); s++)
        table.rows[s].reserve(sizes[s]);
    return "";
}

// Each observation's entries into its samples' rows, in observation order.
std::string readRows(hid_t file, const std::vector<long long> &indptr, CountTable &table)
{
    Handle indices(H5Dopen2(file, "/observation/matrix/indices", H5P_DEFAULT), H5Dclose);
    Handle data(H5Dopen2(file, "/observation/matrix/data", H5P_DEFAULT), H5Dclose);
    const hsize_t n = static_cast<hsize_t>(indptr.back());
    std::vector<long long> columns;
    std::vector<double> values;
    size_t f = 0;
    for (hsize_t first = 0; first < n; first += kBlock) {
        columns.resize(std::min(kBlock, n - first));
        values.resize(columns.size());
        if (!readBlock(indices.id, H5T_NATIVE_LLONG, first, columns) ||
            !readBlock(data.id, H5T_NATIVE_DOUBLE, first, values))
            return kUnreadable;
        for (size_t i = 0; i < columns.size(); i++) {
            while (indptr[f + 1] <= static_cast<long long>(first + i))
                f++;
            const size_t sample = static_cast<size_t>(columns[i]);
            if (!(values[i] >= 0.0) || values[i] > FLT_MAX)
                return "count " + std::to_string(values[i]) + " of sample '" + table.samples[sample] +
                       "' for feature '" + table.features[f] + "' is not a finite number >= 0";
            const float count = static_cast<float>(values[i]) + 0.0f;
            if (count != 0.0f)
                table.rows[sample].emplace_back(static_cast<int>(f), count);
        }
    }
    return "";
}

} // namespace

bool readsBiomHdf5()
{
    return true;
}

std::string readBiomHdf5InThisProcess(const std::string &path, CountTable &table)
{
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);  // failures are reported here, once
    Handle file(H5Fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT), H5Fclose);
    if (file.id < 0)
        return path + ": cannot open the HDF5 file";
    const std::string tooLarge = sizeProblem(file.id);
    if (!tooLarge.empty())
        return path + ": " + tooLarge;
    std::vector<long long> indptr;
    const long long nValues = lengthOf(file.id, "/observation/matrix/data");
    const long long nIndices = lengthOf(file.id, "/observation/matrix/indices");
    if (!readStrings(file.id, "/observation/ids", table.features) ||
        !readStrings(file.id, "/sample/ids", table.samples) || nValues < 0 || nIndices < 0 ||
        !readNumbers(file.id, "/observation/matrix/indptr", H5T_NATIVE_LLONG, indptr))
        return path + ": not a BIOM 2.1 table (it lacks /observation/ids, /sample/ids or the "
                      "/observation/matrix datasets data, indices and indptr)";
    std::string problem = checkSparseOffsets(indptr, static_cast<size_t>(nIndices),
                                             static_cast<size_t>(nValues), table.features.size(),
                                             table.features);
    if (problem.empty())
        problem = checkedRowSizes(file.id, indptr, table);
    if (problem.empty())
        problem = readRows(file.id, indptr, table);
    if (!problem.empty())
        return path + ": " + problem;
    readTaxonomy(file.id, table);
    return "";
}

#else

bool readsBiomHdf5()
{
    return false;
}

std::string readBiomHdf5InThisProcess(const std::string &path, CountTable &)
{
    return path + ": this build cannot read HDF5 files";
}

#endif
