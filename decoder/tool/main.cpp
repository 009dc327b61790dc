#include <cstdio>

#include "decoder/tool/quor_cli.h"

int main(int argc, char** argv) {
    return tesk::quor::cli::Run(argc - 1, argv + 1, stdout, stderr);
}
