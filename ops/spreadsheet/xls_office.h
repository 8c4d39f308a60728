#pragma once
// Moved to the workbook engine; this name stays until every user includes
// "platform/spreadsheet/xls_office.h".
#include "platform/spreadsheet/xls_office.h"
