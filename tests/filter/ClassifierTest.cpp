// The combining arithmetic against values worked out by hand.
#include "learning/Classifier.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

ClassifierParameters withStrength(double s)
{
    ClassifierParameters parameters;
    parameters.strength = s;
    return parameters;
}

TEST(Classifier, RobinsonSmoothingOfATokensProbability)
{
    // In 3 of 10 spam and 1 of 20 ham: p = 0.3 / (0.3 + 0.05) = 6/7, n = 4.
    const TokenCounts counts{3, 1};
    // s = 1, x = 0.5: (0.5 + 4 * 6/7) / 5 = 0.785714...
    EXPECT_NEAR(tokenProbability(counts, 10, 20, withStrength(1)), 0.7857142857, 1e-9);
    // s = 2: (1 + 24/7) / 6 = 0.738095...
    EXPECT_NEAR(tokenProbability(counts, 10, 20, withStrength(2)), 0.7380952381, 1e-9);
    // Seen once, in spam only: (0.5 + 1) / 2 with s = 1.
    EXPECT_NEAR(tokenProbability({1, 0}, 10, 20, withStrength(1)), 0.75, 1e-12);
    // Never seen, or nothing learned of one kind: x.
    EXPECT_EQ(tokenProbability({0, 0}, 10, 20, withStrength(1)), 0.5);
    EXPECT_EQ(tokenProbability({4, 0}, 10, 0, withStrength(1)), 0.5);
    // A share above all the messages of its kind is taken as all of them.
    EXPECT_NEAR(tokenProbability({30, 0}, 10, 20, withStrength(1)), (0.5 + 30.0) / 31.0, 1e-12);
}

TEST(Classifier, ChiSquareSurvivalForEvenDegreesOfFreedom)
{
    // 2 degrees: exp(-chi2 / 2).
    EXPECT_NEAR(chiSquareSurvival(3.0, 2), std::exp(-1.5), 1e-12);
    // 4 degrees at 4: e^-2 * (1 + 2) = 0.40600584...
    EXPECT_NEAR(chiSquareSurvival(4.0, 4), 0.4060058497, 1e-9);
    // 6 degrees at 2: e^-1 * (1 + 1 + 1/2) = 0.91969860...
    EXPECT_NEAR(chiSquareSurvival(2.0, 6), 0.9196986029, 1e-9);
    EXPECT_EQ(chiSquareSurvival(0.0, 4), 1.0);
    // Far out in the tail with many degrees: tiny, never NaN or above 1.
    const double far = chiSquareSurvival(5000.0, 300);
    EXPECT_GE(far, 0.0);
    EXPECT_LT(far, 1e-100);
    EXPECT_LE(chiSquareSurvival(100.0, 300), 1.0);
}

TEST(Classifier, FisherCombiningOfTwoSpamTokens)
{
    // f = 0.9 and 0.8:
    //   -2 ln(0.9 * 0.8) = 0.65700813, 4 degrees: H = 0.72 * (1 + 0.32850407) = 0.95652293
    //   -2 ln(0.1 * 0.2) = 7.82404601, 4 degrees: S = 0.02 * (1 + 3.91202301) = 0.09824046
    //   I = (1 + H - S) / 2 = 0.92914123
    EXPECT_NEAR(fisherCombine({0.9, 0.8}), 0.92914123, 1e-8);
    // Mirrored tokens give the mirrored probability.
    EXPECT_NEAR(fisherCombine({0.1, 0.2}), 1 - 0.92914123, 1e-8);
    // Evidence both ways cancels.
    EXPECT_NEAR(fisherCombine({0.9, 0.1}), 0.5, 1e-12);
    EXPECT_EQ(fisherCombine({}), 0.5);
}

TEST(Classifier, OnlyTheMostSignificantTokensAreCombined)
{
    ClassifierParameters parameters = withStrength(1);
    parameters.maxTokens = 2;
    // 100 spam and 100 ham learned.  f: {50, 0} -> (0.5 + 50) / 51 = 0.99020;
    // {0, 50} -> 0.5 / 51 = 0.00980; {3, 1} -> p = 0.75, (0.5 + 3) / 5 = 0.7;
    // {1, 1} -> 0.5, never significant.
    const std::vector<TokenCounts> tokens{{3, 1}, {50, 0}, {1, 1}, {0, 50}};
    // The two most significant are the two extreme ones, which cancel.
    EXPECT_NEAR(spamProbability(tokens, 100, 100, parameters), 0.5, 1e-12);
    parameters.maxTokens = 150;
    // All three significant ones: 0.99020, 0.00980 and 0.7.
    EXPECT_NEAR(spamProbability(tokens, 100, 100, parameters),
                fisherCombine({50.5 / 51, 0.5 / 51, 0.7}), 1e-12);
    EXPECT_GT(spamProbability(tokens, 100, 100, parameters), 0.5);
    // Nothing significant: 0.5.
    EXPECT_EQ(spamProbability({{1, 1}, {0, 0}}, 100, 100, parameters), 0.5);
    // Deviation below minDeviation: {3, 2} gives p = 0.6, f = 3.5 / 6 = 0.5833.
    parameters.minDeviation = 0.1;
    EXPECT_EQ(spamProbability({{3, 2}}, 100, 100, parameters), 0.5);
}

} // namespace
