#include "report/model/RpController.h"

#include "engine/DataSet.h"

TDataSet* TRpController::DataSet() const { return dataSet_.data(); }

void TRpController::SetDataSet(TDataSet* ds) { dataSet_ = ds; }
