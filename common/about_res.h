// about_res: identifiers of the "ABOUT" dialog template (common/about.rc).
// Kept clear of the driver's own ids (1, 95-97, 103-111, 1001).
#pragma once

#define IDD_ABOUT_NAME      "ABOUT"
#define IDC_ABOUT_OK        1       // IDOK: closes the box
#define IDC_ABOUT_VERSION   99      // version line
#define IDC_ABOUT_STAMP     999     // build date and time
#define IDC_ABOUT_SHADE     2000    // shaded frame
