// Hematix: receives a haematology analyser's results on a serial line and keeps them in the
// laboratory's result table.
#include "app/Application.h"

int main(int argc, char** argv)
{
    return hematix::run(argc, argv);
}
