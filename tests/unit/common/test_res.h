// Identifiers of the support tests' dialog templates.
#pragma once
#define IDC_VER_LOGO      300   // owner-drawn, text "LOGO"
#define IDC_VER_NOBITMAP  301   // owner-drawn, text names no bitmap
#define IDC_PANEL_LIST    1001
