// Lambda grids taken from the data, as cv.glmnet makes them: for each w, a
// path from lambda_max (the smallest lambda at which the all-zero model is
// optimal) down to a fraction of it, computed once on every sample given so
// that every fold is searched over the same grid.
#ifndef ORVANE_LAMBDAGRID_H
#define ORVANE_LAMBDAGRID_H

#include <vector>

#include "model/Logistic.h"

// lambda_max of the model on every row of `all` at weight w (the tree is copied).
double lambdaMaxOf(const Data &all, vessik::Tree *tree, float w);

// n values (n >= 2) log-spaced from ratio x top up to top, ascending, so that
// equal mean errors go to the larger lambda as the logs' ties do. The ends
// are top rounded to a float and ratio times that.
std::vector<float> logSpacedGrid(double top, int n, double ratio);

#endif
