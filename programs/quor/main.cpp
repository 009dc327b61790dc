#include "programs/quor/quor_cli.h"

int main(int argc, char** argv) {
    return tesk::quor::cli::Run(std::vector<std::string>(argv + 1, argv + argc));
}
