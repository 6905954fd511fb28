// Control identifiers of the Settings dialog, shared by its resource script and its code.
#pragma once

#define IDD_SETTINGS 200
#define IDC_FOLDERS 201
#define IDC_ADD 202
#define IDC_REMOVE 203
#define IDC_EXCLUSIONS 204
#define IDC_DELAY 205
#define IDC_SMALL 206
#define IDC_TRACE 207
#define IDC_FILE 208
#define IDC_CAPTION 209
#define IDC_BACKGROUND 210
#define IDC_FADE 211
#define IDC_EACH_SCREEN 212
