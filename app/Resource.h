#pragma once
// Resource and control ids of the program (shared by the resource script and the code).

#define IDI_TIDEWASH 128
#define IDB_CLOSE_NORMAL 134
#define IDB_CLOSE_PUSHED 135
#define IDB_SKIN 136
#define IDR_BUSY_GIF 137
#define IDD_DETECTION 203

#define IDC_THREAT_LIST 130
#define IDC_FOUND_COUNT 1000
#define IDC_BUSY_PICTURE 1001
#define IDC_AUTO_CLEAN 1003
#define IDC_MANUAL_CLEAN 1004
#define IDC_SCAN 1005
#define IDC_CLOSE_BUTTON 1006
#define IDC_FOOTER 1007
#define IDC_ACTIVITY 1009
#define IDC_CLEAN 2
