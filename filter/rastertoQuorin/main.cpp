#include "filter_job.h"

int main(int argc, char** argv)
{
    return RunFilter(argc, argv);
}
