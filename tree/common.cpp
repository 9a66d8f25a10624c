// Binomial coefficients, the Poisson probability, normal variates by the
// ratio of uniforms, permutation inversion and the array printers.
#include "tree/common.h"

#include <climits>
#include <cmath>

namespace vessik {

namespace {
// Both functions share this product; `choose` rounds it to an integer.
double binomial(int n, int k)
{
    if (n < 0 || k < 0 || k > n)
        return 0.0;
    const int t = k > n / 2 ? n - k : k;
    if (t < 1)
        return 1.0;
    double r = 1.0;
    for (int i = 1; i <= t; i++)
        r = r * (n - i + 1) / i;
    return r;
}
} // namespace

int choose(int n, int k)
{
    const double r = binomial(n, k) + 0.5;
    // Converting a double beyond the int range is undefined behaviour.
    if (r >= static_cast<double>(INT_MAX))
        return INT_MAX;
    return static_cast<int>(r);
}

double fchoose(int n, int k)
{
    return binomial(n, k);
}

extern "C" float poisson(int x, float lambda)
{
    if (x < 0 || lambda <= 0.0f)
        return 0.0f;
    float s = 0.0f;
    for (int i = 1; i <= x; i++)
        s += log(lambda / static_cast<float>(i));
    s -= lambda;
    return static_cast<float>(exp(s));
}

extern "C" float normalvariate(float mu, float sigma, int (*draw)(void *state), void *state)
{
    const float scale = 4.656612873077393e-10f; // 2^-31
    const double magic = 1.7155277729034424;   // 4 e^-0.5 / sqrt(2), in single precision
    float z;
    while (true) {
        const float u1 = static_cast<float>(draw(state)) * scale;
        const float u2 = 1.0f - static_cast<float>(draw(state)) * scale;
        // Draws near 2^31 - 1 round to 2^31 in single precision, which
        // makes u2 zero and z infinite: draw again instead.
        if (u2 == 0.0f)
            continue;
        z = static_cast<float>((u1 - 0.5) * magic / u2);
        if (z * z * 0.25f <= -log(u2))
            break;
    }
    return mu + sigma * z;
}

void invertPerm(int *perm, int *inv, int size)
{
    for (int i = 0; i < size; i++)
        inv[perm[i]] = i;
}

void printIntArray(int *array, int size)
{
    printIntArray(stdout, array, size);
}

void printFloatArray(float *array, int size)
{
    printFloatArray(stdout, array, size);
}

void printIntArray(FILE *out, int *array, int size)
{
    for (int i = 0; i < size; i++)
        fprintf(out, "%d ", array[i]);
    fprintf(out, "\n");
}

void printFloatArray(FILE *out, float *array, int size)
{
    for (int i = 0; i < size; i++)
        fprintf(out, "%f ", array[i]);
    fprintf(out, "\n");
}

} // namespace vessik
