#pragma once

// Resource and control ids of Kantiq-Einrichtung.exe, shared by the
// resource script, the window and the Wine test (which reads the numbers
// from here). Plain #defines: the resource compiler reads this file too.
//
// A scalar field's label has the id of its field plus
// IDC_LABEL_OFFSET, the "Vorgabe" beside a field on the "Erweitert" page
// the id plus IDC_DEFAULT_OFFSET.

#define IDI_EINRICHTUNG 1

#define IDD_SETUP 100
#define IDD_PAGE_ALARMS 101
#define IDD_PAGE_GROUPS 102
#define IDD_PAGE_ROUTE 103
#define IDD_PAGE_INPUT 104
#define IDD_PAGE_ADVANCED 105
#define IDD_TEST_NUMBER 106

#define IDC_LABEL_OFFSET 5000
#define IDC_DEFAULT_OFFSET 6000

// The main window.
#define IDC_NOTICE 1001
#define IDC_TABS 1002
#define IDC_REPORT 1003
#define IDC_CHECK 1004
#define IDC_TEST_SMS 1005
#define IDC_APPLY 1006
// "Schließen" is IDCANCEL (Esc closes too).

// "Alarme".
#define IDC_ALARM_LIST 1101
#define IDC_ALARM_NEW 1102
#define IDC_ALARM_CHANGE 1103
#define IDC_ALARM_REMOVE 1104
#define IDC_ALARM_TEXT 1105
#define IDC_ALARM_CODE 1106
#define IDC_ALARM_TONE_SET 1107
#define IDC_ALARM_STEPS 1108
#define IDC_ALARM_CODE_CHECK 1109

// "Empfänger".
#define IDC_GROUP_LIST 1201
#define IDC_GROUP_NEW 1202
#define IDC_GROUP_CHANGE 1203
#define IDC_GROUP_REMOVE 1204
#define IDC_GROUP_NAME 1205
#define IDC_GROUP_NUMBERS 1206
#define IDC_GROUP_KEYWORDS 1207
#define IDC_GROUP_ALL 1208
#define IDC_GROUP_NOTICES 1209
#define IDC_GROUP_NUMBER_CHECK 1210

// "SMS-Weg" (S.toml).
#define IDC_KANAL 1301
#define IDC_ERSATZKANAL 1302
#define IDC_TEST_TEXT 1303
#define IDC_MODEM_PORT 1304
#define IDC_MODEM_BAUD 1305
#define IDC_MODEM_PIN 1306
#define IDC_MODEM_REPLY 1307
#define IDC_MODEM_SEND 1308
#define IDC_HTTP_URL 1309
#define IDC_HTTP_METHOD 1310
#define IDC_HTTP_FORMAT 1311
#define IDC_HTTP_BODY 1312
#define IDC_HTTP_HEADERS 1313
#define IDC_HTTP_STATUS 1314
#define IDC_HTTP_TEXT 1315
#define IDC_HTTP_TIMEOUT 1316
#define IDC_HTTP_GSM 1317
#define IDC_HTTP_PROXY 1318

// "Eingang und Hinweise" (kantiq.toml).
#define IDC_INPUT_NAME 1401
#define IDC_INPUT_POSITION 1402
#define IDC_INPUT_SILENCE 1403
#define IDC_SMS_RETRY 1404
#define IDC_NOTICE_DELAY 1405
#define IDC_SIGN_OF_LIFE 1406

// "Erweitert": the detector (kantiq.toml), retries and outbox (S.toml).
#define IDC_DET_TOLERANCE 1501
#define IDC_DET_MIN_FREQUENCY 1502
#define IDC_DET_HITS 1503
#define IDC_DET_SEQUENCE 1504
#define IDC_DET_PEAKS 1505
#define IDC_DET_MAGNITUDE 1506
#define IDC_DET_RETRIGGER 1507
#define IDC_DET_LOAD_HIGH 1508
#define IDC_DET_LOAD_LOW 1509
#define IDC_DET_RESTART 1510
#define IDC_RETRY_ROUNDS 1511
#define IDC_RETRY_FIRST 1512
#define IDC_RETRY_LONGEST 1513
#define IDC_RETRY_TOTAL 1514
#define IDC_OUTBOX_AGE 1515
#define IDC_DEFAULTS 1599

// The number asked for a test SMS.
#define IDC_TEST_NUMBER 1601
#define IDC_TEST_NUMBER_CHECK 1602
