#include "app/application.h"

int main(int argc, char** argv)
{
    return vexor::RunVexor(argc, argv);
}
