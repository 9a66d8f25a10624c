// Numeric helpers (binomial coefficients, Poisson probability, normal
// variates, permutation inversion) and array printers for debugging.
#ifndef VESSIK_COMMON_H
#define VESSIK_COMMON_H

#include <cstdio>

namespace vessik {

// Binomial coefficient "n choose k"; 0 when k < 0, n < 0 or k > n.
// `choose` saturates at INT_MAX when the value does not fit an int.
int choose(int n, int k);
double fchoose(int n, int k);

extern "C" {
// lambda^x e^-lambda / x!; 0 for x < 0 or lambda <= 0.
float poisson(int x, float lambda);
// A normal variate with mean `mu` and deviation `sigma`. `draw(state)` gives
// the uniform integers, from 0 to 2^31 - 1 as the C library's rand does on
// Linux; the caller owns the generator, so that draws are reproducible and
// threads do not share one.
float normalvariate(float mu, float sigma, int (*draw)(void *state), void *state);
}

// inv[perm[i]] = i for every i below `size`.
void invertPerm(int *perm, int *inv, int size);

// Each element followed by a space ("%d " or "%f "), then a newline, on
// standard output or on `out`.
void printIntArray(int *array, int size);
void printFloatArray(float *array, int size);
void printIntArray(FILE *out, int *array, int size);
void printFloatArray(FILE *out, float *array, int size);

} // namespace vessik

#endif
