// The library's dialog templates, one builder per dialog.
#pragma once

#include <mfc/resources.h>

mfc::DlgTemplate ManagementTemplate();
mfc::DlgTemplate TransmitterTemplate();
mfc::DlgTemplate ReceiverTemplate();
mfc::DlgTemplate AdvancedTemplate();
mfc::DlgTemplate GenericSnmpTemplate();
mfc::DlgTemplate SaveReportsTemplate();
mfc::DlgTemplate SaveReportTemplate();
