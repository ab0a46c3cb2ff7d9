// Resource and control identifiers of the program.
#pragma once

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

#define IDD_ABOUTBOX            100
#define IDS_ABOUTBOX            101
#define IDD_MAIN                102
#define IDP_SOCKETS_INIT_FAILED 103
#define IDR_MAINFRAME           128
#define IDR_TRAYMENU            146

#define IDC_HIDE                1000
#define IDC_RECORD              1001
#define IDC_PAUSE               1002
#define IDC_MICICON             1003
#define IDC_SPKICON             1004
#define IDC_MICLEVEL            1005
#define IDC_SPKLEVEL            1006
#define IDC_ADLABEL             1008
#define IDC_STATUS              1009
#define IDC_UNUSED              1010
#define IDC_HISTORY             1011
#define IDC_OPTIONS             1012
#define IDC_HELPBTN             1013
#define IDC_DURATION            1014
#define IDC_TOPMOST             1027
#define IDC_STICK               1078
#define IDC_ADSTRIP             1080
#define IDC_CLOSEAD             1083

#define IDM_ABOUTBOX            16
#define ID_TRAY_EXIT            32772
#define ID_APP_ABOUT_HIDDEN     32773
#define ID_TRAY_AUTOREC         32774
#define ID_TRAY_BOTHSIDES       32775
#define ID_TRAY_REMOTESIDE      32776
#define ID_TRAY_MYSIDE          32777
#define ID_TRAY_STICK           32778
#define ID_TRAY_ABOUT           32779
