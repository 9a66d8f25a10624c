// Numeric helpers (binomial coefficients, Poisson probability, normal
// variates, permutation inversion) and array printers for debugging.
#ifndef VESSIK_COMMON_H
#define VESSIK_COMMON_H

namespace vessik {

// Binomial coefficient "n choose k"; 0 when k < 0, n < 0 or k > n.
// `choose` saturates at INT_MAX when the value does not fit an int.
int choose(int n, int k);
double fchoose(int n, int k);

extern "C" {
// lambda^x e^-lambda / x!; 0 for x < 0 or lambda <= 0.
float poisson(int x, float lambda);
// A normal variate with mean `mu` and deviation `sigma`, drawn with rand().
float normalvariate(float mu, float sigma);
}

// inv[perm[i]] = i for every i below `size`.
void invertPerm(int *perm, int *inv, int size);

// Each element followed by a space, then a newline, on standard output.
void printIntArray(int *array, int size);
void printFloatArray(float *array, int size);

} // namespace vessik

#endif
