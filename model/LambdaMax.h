// The smallest lambda at which the all-zero model is optimal: the top of a
// lambda path, and the point past which a converged fit selects nothing.
#ifndef ORVANE_LAMBDA_MAX_H
#define ORVANE_LAMBDA_MAX_H

class Logistic;

// For a model built from a data set and a tree whose tree is indexed for its w
// (LoadTheTree(w) done); the model's data turn into its feature columns
// (Logistic::featureColumns) if they are not yet. Infinite when some coefficient of the tree carries no
// penalty at all, so that no lambda keeps the model at zero; 0 when the
// all-zero model is optimal for every lambda (a single class, say).
double lambdaMax(Logistic &model);

#endif
