// Resource numbers of the framework tests' template.
#define IDD_TEST 200
#define IDC_RADIO_A 1002
#define IDC_RADIO_B 1003
#define IDC_RADIO_C 1006
#define IDC_TEXT 1007
#define IDC_EDIT 1008
#define IDC_OWNERDRAW 1009
