#pragma once

// The report of each page of the main window, read from the program's resources.

#include "print/ReportTemplate.h"
#include "table/Pages.h"

namespace ulen3 {

// The observation report (frReport1) or the operative report (frReport2). Throws ReportError
// when the template cannot be read.
ReportTemplate report_template(PageKind page);

} // namespace ulen3
