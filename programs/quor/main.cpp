#include "programs/common/system_seam.h"
#include "programs/quor/quor_cli.h"

int main(int argc, char** argv) {
    return tesk::quor::cli::Run(tesk::cli::os::startProgram(argc, argv));
}
