// The exporter's measurements through the component, as the client's own commands make them:
// a Sonde2 object each, its settings put, its method called, its Results record read.
#ifndef TELVARIO_CLI_EXPORTER_MEASURER_H
#define TELVARIO_CLI_EXPORTER_MEASURER_H

#include "run_measurer.h"

namespace telvario::cli {

// Makes the objects, each from the component beside the program.
exporter::MeasurerMaker SondeMeasurers();

}  // namespace telvario::cli

#endif
