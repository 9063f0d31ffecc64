#include "learning/Classifier.h"

#include <algorithm>
#include <cmath>

double tokenProbability(const TokenCounts& counts, int64_t nSpam, int64_t nHam, const ClassifierParameters& parameters)
{
    const double spam = static_cast<double>(std::max<int64_t>(counts.spam, 0));
    const double ham = static_cast<double>(std::max<int64_t>(counts.ham, 0));
    const double n = spam + ham;
    if (n == 0 || nSpam <= 0 || nHam <= 0)
        return parameters.background;
    // A token can be counted in more messages than were learned only when
    // the store was edited by hand: the share is capped at all of them.
    const double spamShare = std::min(1.0, spam / static_cast<double>(nSpam));
    const double hamShare = std::min(1.0, ham / static_cast<double>(nHam));
    const double p = spamShare / (spamShare + hamShare);
    const double s = parameters.strength;
    const double f = (s * parameters.background + n * p) / (s + n);
    return std::clamp(f, kMinF, 1.0 - kMinF);
}

double chiSquareSurvival(double chi2, int dof)
{
    if (dof < 2 || chi2 <= 0)
        return 1.0;
    const double m = chi2 / 2;
    const double logM = std::log(m);
    // log of each term m^i / i! * exp(-m); the largest is kept apart so that
    // the sum is taken of values of at most 1.
    const int terms = dof / 2;
    double logTerm = -m;
    double largest = logTerm;
    std::vector<double> logs;
    logs.reserve(static_cast<size_t>(terms));
    for (int i = 0; i < terms; ++i) {
        if (i > 0)
            logTerm += logM - std::log(static_cast<double>(i));
        logs.push_back(logTerm);
        largest = std::max(largest, logTerm);
    }
    double sum = 0;
    for (double value : logs)
        sum += std::exp(value - largest);
    return std::min(1.0, std::exp(largest + std::log(sum)));
}

double fisherCombine(const std::vector<double>& probabilities)
{
    if (probabilities.empty())
        return 0.5;
    double logSpam = 0;
    double logHam = 0;
    for (double f : probabilities) {
        const double clamped = std::clamp(f, kMinF, 1.0 - kMinF);
        logSpam += std::log(clamped);
        logHam += std::log(1.0 - clamped);
    }
    const int dof = 2 * static_cast<int>(probabilities.size());
    const double h = chiSquareSurvival(-2 * logSpam, dof);
    const double s = chiSquareSurvival(-2 * logHam, dof);
    return (1 + h - s) / 2;
}

double spamProbability(const std::vector<TokenCounts>& tokens, int64_t nSpam, int64_t nHam,
                       const ClassifierParameters& parameters)
{
    std::vector<double> significant;
    significant.reserve(tokens.size());
    for (const TokenCounts& counts : tokens) {
        const double f = tokenProbability(counts, nSpam, nHam, parameters);
        if (std::fabs(f - 0.5) >= parameters.minDeviation)
            significant.push_back(f);
    }
    if (significant.size() > parameters.maxTokens) {
        const auto deviation = [](double a, double b) { return std::fabs(a - 0.5) > std::fabs(b - 0.5); };
        std::nth_element(significant.begin(), significant.begin() + static_cast<long>(parameters.maxTokens),
                         significant.end(), deviation);
        significant.resize(parameters.maxTokens);
    }
    return fisherCombine(significant);
}
