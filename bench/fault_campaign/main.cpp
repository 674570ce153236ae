// fault_campaign: updates against simulated devices of every family, each with faults drawn at
// random from what the simulated bank can inject, and the checks every update must pass: it ends
// within its allowance, its port is free at once, nothing is left behind, a success means the
// device holds exactly the image, and a failure is a documented result of a real fault.
//
//   fault_campaign [--runs N] [--seed S] [--only K] [--parallel P] [--scale X] [--verbose]
//
// The seed is printed first. A failed run is printed with "--seed S --only K", which draws and runs
// that one run alone (its draw depends only on the seed and its index). Exit code 0 when every run
// passed every check, 1 when one did not, 2 on a usage error.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/fault_campaign/campaign.h"

namespace {

int usage()
{
    std::fprintf(stderr, "usage: fault_campaign [--runs N] [--seed S] [--only K] [--parallel P] [--scale X] "
                         "[--verbose]\n");
    return 2;
}

bool parseNumber(const char *text, double *value)
{
    char *end = nullptr;
    *value = std::strtod(text, &end);
    return end != text && *end == '\0';
}

} // namespace

int main(int argc, char **argv)
{
    campaign::Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--verbose") {
            options.verbose = true;
            continue;
        }
        if (i + 1 >= argc)
            return usage();
        const char *value = argv[++i];
        double number = 0;
        if (arg == "--seed") {
            char *end = nullptr;
            options.seed = std::strtoull(value, &end, 0);
            if (end == value || *end != '\0')
                return usage();
        } else if (!parseNumber(value, &number)) {
            return usage();
        } else if (arg == "--runs" && number >= 1) {
            options.runs = static_cast<long>(number);
        } else if (arg == "--only" && number >= 0) {
            options.only = static_cast<long>(number);
        } else if (arg == "--parallel" && number >= 1 && number <= 32) {
            options.parallel = static_cast<int>(number);
        } else if (arg == "--scale" && number > 0) {
            options.scale = number;
        } else {
            return usage();
        }
    }

    std::printf("fault_campaign --seed %llu\n", static_cast<unsigned long long>(options.seed));
    std::fflush(stdout);
    std::vector<campaign::RunPlan> plans;
    if (options.only >= 0) {
        plans.push_back(campaign::drawRun(options.seed, options.only));
        options.verbose = true;
        std::printf("run %ld: %s\n", options.only, campaign::describe(plans.back()).c_str());
    } else {
        for (long i = 0; i < options.runs; ++i)
            plans.push_back(campaign::drawRun(options.seed, i));
    }
    std::printf("%zu runs, %d at a time, time scale %g\n", plans.size(), options.parallel, options.scale);
    std::fflush(stdout);

    const auto start = std::chrono::steady_clock::now();
    std::vector<campaign::RunOutcome> outcomes = campaign::runCampaign(options, plans);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    campaign::printReport(options, plans, outcomes, seconds);
    for (const campaign::RunOutcome &outcome : outcomes)
        if (campaign::runFailed(outcome))
            return 1;
    return 0;
}
