// How often the fold models of one grid point select each taxon and clade:
// the stability of the model's list across the folds and repetitions.
#ifndef ORVANE_SELECTION_H
#define ORVANE_SELECTION_H

#include <string>

#include "tree/Tree.h"
#include "validation/Summary.h"
#include "validation/Testing.h"

// The table of the fits of grid point `point` of a finished run, which must
// have kept their coefficients (the chosen point does): a header
// "feature\tclass\tshare\tmean_coefficient", then one line per class and
// taxon or clade that at least one fit selects. A taxon is selected by a fit
// when its coefficient for the class is nonzero; it is named by its feature
// number, as the tree's leaves name it. A clade (an internal node of `tree`,
// named nodeN, N numbering the internal nodes in pre-order from 1 at the
// root) is selected when a leaf below it is; its mean_coefficient is the mean
// Euclidean norm of the class's coefficients below it. `share` is the share
// of the fits that select it, `mean_coefficient` the mean over all fits (one
// that does not select it counts 0), both with six significant digits.
// Lines go by class (in class order, named by `names`), then largest share
// first; among equal shares taxa come before clades, taxa of larger absolute
// mean coefficient first (then by feature number), clades in node order.
std::string selectionTable(const Testing &run, int point, vessik::Tree *tree,
                           int nFeatures, int nClasses, const StudyNames &names);

#endif
