#pragma once

// Numbers of the program's resources and of the controls in its dialogs,
// shared by the resource script and the code.

// Dialog templates
#define IDD_MAIN 106
#define IDD_ABOUT 107
#define IDD_TEST_MESSAGE 119

// Icon and bitmaps
#define IDI_KANTIQ 110
#define IDB_STATUS_ON 114
#define IDB_STATUS_OFF 115
#define IDB_ABOUT_BUTTON 116
#define IDB_BANNER 117
#define IDB_STATUS_FAULT 118
#define IDB_STATUS_SILENT 120
#define IDB_STATUS_NO_INPUT 121
#define IDB_STATUS_SMS_WAITING 122

// Main dialog
#define IDC_WAVEFORM 101
#define IDC_SPECTROGRAM 1002
#define IDC_TOGGLE 1003
#define IDC_BITS8 1005
#define IDC_BITS16 1006
#define IDC_RATE_LIST 1008
#define IDC_SPEED_SCROLL 1012
#define IDC_SPEED_BOX 1013
#define IDC_POINTS_LIST 1014
#define IDC_RESULT_BOX 1015
#define IDC_SCALE 1016
#define IDC_ABOUT 1019
#define IDC_STATUS 1020
#define IDC_TEST_MESSAGE 1021
#define IDC_INPUT_LABEL 1022

// About box
#define IDC_HOME_PAGE 1020

// Test-message dialog
#define IDC_NUMBER 1019

// The caption of the main window and of the about box; a second start finds
// the running window by it.
#define KANTIQ_WINDOW_CAPTION "Brevalo Kantiq"

// The maker's home page: the about box's button caption and its target.
#define KANTIQ_HOME_PAGE "https://kantiq.example.org"
