// telvario: the command-line client. It creates one Sonde2 object (or, asked, a Sonde) in this
// process through the component's class object, as any host would, and prints what the object
// answers (command_line.h).
#include "command_line.h"

int main(int argc, char** argv) {
  return telvario::cli::RunClient(argc, argv);
}
