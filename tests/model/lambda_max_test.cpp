#include <gtest/gtest.h>

#include <cmath>

#include "model/LambdaMax.h"
#include "model_test_util.h"

namespace {

double lambdaMaxAt(float w)
{
    Logistic model(dataFile("four.txt"), dataFile("four_labels.txt"), dataFile("deep.tre"), {});
    model.Train(1.0f);
    model.LoadTheTree(w);
    const double value = lambdaMax(model);
    model.del();
    return value;
}

} // namespace

// four.txt scaled by rows is (.1 .2 .3 .4), (.4 .3 .2 .1), (.25 .25 .25 .25),
// with rows 1 and 3 in class a: g_a = -g_b = (-.025, .075, .175, .275).
TEST(LambdaMax, HandWorkedTree)
{
    // A plain lasso: the largest |g|.
    EXPECT_NEAR(lambdaMaxAt(1.0f), 0.275, 1e-7);
    // Only the root's group: the Euclidean norm of g.
    EXPECT_NEAR(lambdaMaxAt(0.0f), std::sqrt(0.1125), 1e-7);
    // (((0,1),2),3) at w = 0.5: groups weigh .5, .25, .125 from the root down,
    // leaves 3, 2, 0 and 1 weigh .5, .25, .125, .125. At t = 0.2795446 leaf 0
    // is absorbed, leaf 1 leaves .075 - .125t, the inner group what exceeds
    // .125t of that, and so on up to a root residual of zero.
    EXPECT_NEAR(lambdaMaxAt(0.5f), 0.2795446015604751, 1e-7);
}
