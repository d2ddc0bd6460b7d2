// Identifiers shared by the resource scripts and the window code. Plain macros, since the
// resource compiler reads this file too.
#pragma once

// Dialogs and the menu.
#define IDD_MAIN 1
#define IDD_ABOUT 4
#define IDD_COMMAND_LINE 11
#define IDM_MAIN 1

// Main window controls.
#define IDC_SOURCE 101
#define IDC_BROWSE_SOURCE 102
#define IDC_OUTPUT 103
#define IDC_BROWSE_OUTPUT 104
#define IDC_TRAY_CHECK 105
#define IDC_LOG 106
#define IDC_STATUS 107
#define IDC_SOURCE_FOLDER 108
#define IDC_OUTPUT_FOLDER 109
#define IDC_KEEP_DELETED 111
#define IDC_SOURCE_LABEL 112
#define IDC_OUTPUT_LABEL 113
#define IDC_LANGUAGE_LABEL 114
#define IDC_PROGRESS 116
#define IDC_START 200
#define IDC_LANGUAGE_LIST 210
#define IDC_COMMAND_LINE 220
#define IDC_TOOLBAR 3000

// Menu and toolbar commands.
#define IDM_BROWSE 102
#define IDM_START 200
#define IDM_HELP 205
#define IDM_ABOUT 210
#define IDM_MAIL 500
#define IDM_EXIT 700
#define IDM_ENGLISH 1100
#define IDM_GERMAN 1200
#define IDM_ITALIAN 1300
#define IDM_SPANISH 1400
#define IDM_FRENCH 1500
#define IDM_TRAY 2001
#define IDM_RECOVER_DELETED 2002
#define IDM_DELETE_DUPLICATES 11842
#define IDM_PRODUCT_PAGE 11843
#define IDM_PACK 11844
#define IDM_DELETE_INVALID_MEMO 11845
#define IDM_DELETE_EMPTY 11846
#define IDM_CLEAN_HISTORY 11847
#define IDM_KEEP_ORIGINAL 800

// About box controls.
#define IDC_ABOUT_ICON 101
#define IDC_ABOUT_NAME 102
#define IDC_ABOUT_WEB 104
#define IDC_ABOUT_MAIL 107

// Command Line dialog controls.
#define IDC_COMMAND_TEXT 110
#define IDC_SAVE_BAT 120

// Icons: toolbar pictures by number, the program's own by name.
#define IDI_START 300
#define IDI_HELP 302
#define IDI_ABOUT 303
#define IDI_SUPPORT 304
#define IDI_QUIT 305

// Strings.
#define IDS_UNRECOVERABLE 110
#define IDS_RECOVERABLE_RECORDS 120
#define IDS_TOOLBAR_BUTTONS 160
#define IDS_TIP_START 170
#define IDS_TIP_MAIL 190
#define IDS_TIP_HELP 200
#define IDS_TIP_ABOUT 210
#define IDS_TIP_QUIT 220
#define IDS_TIP_BROWSE_SOURCE 230
#define IDS_TIP_BROWSE_OUTPUT 240
#define IDS_TIP_SOURCE_FOLDER 250
#define IDS_TIP_OUTPUT_FOLDER 260
#define IDS_LANGUAGE_NAMES 300
#define IDS_CANCEL_RUN 400
#define IDS_RUN_CANCELLED 410
#define IDS_KEPT_ORIGINAL 810
#define IDS_SELECT_TABLE 820
#define IDS_CLICK_START 830
#define IDS_STARTING 840
#define IDS_STARTING_TABLE 850
#define IDS_PROCESS_COMPLETE 860
#define IDS_SAVED_FIXED 870

// Check only, the report and the results box (commands 600 to 609, strings 420 to 459).
#define IDM_SHOW_OUTPUT 600
#define IDC_SHOW_OUTPUT 600
#define IDM_CHECK_ONLY 601
#define IDM_WRITE_REPORT 602
#define IDS_CHECK_CAPTION 420
#define IDS_RECORDS_READ 421
#define IDS_RECORDS_KEPT 422
#define IDS_RECORDS_DROPPED 423
#define IDS_MEMOS_CARRIED 424
#define IDS_MEMO_REFERENCES_CLEARED 425
#define IDS_OUTPUT_NAME 426
#define IDS_FINDINGS 427
#define IDS_MORE_FINDINGS 428
// Ten reasons a record is dropped, 430 to 439, in the order of the check's summary.
#define IDS_DROPPED_BY_PACK 430
#define IDS_CHECK_HEADING 440
#define IDS_VERDICT_SOUND 441
#define IDS_VERDICT_NEEDS_REPAIR 442
#define IDS_VERDICT_UNREADABLE 443
#define IDS_REPORT_WRITTEN 444
#define IDS_REPORT_FAILED 445
#define IDS_REPORT_FILTER 446
#define IDS_REPORT_SINGLE_TABLE 447
#define IDS_SKIPPED_SECOND_NAME 448
#define IDS_FOLDER_CANCELLED 449
#define IDS_TABLE_CANCELLED 450
#define IDS_DROPPED_AS_ZEROED 451
#define IDS_DROPPED_AS_UNREADABLE 452
