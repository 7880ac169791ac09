#pragma once
// Control IDs of the wizard window (mrvdbconv). One ID per named control; the UI test driver
// finds controls by these IDs as well as by class and window text. Keep the numbers stable.

// Frame: header band, separators, button band.
#define IDC_lbStepName 1001
#define IDC_lbStepProgress 1002
#define IDC_bvlHeader 1003   // etched line under the header band
#define IDC_bvlButtons 1004  // etched line above the button band
#define IDC_btnBack 1005
#define IDC_btnNext 1006
#define IDC_btnCancel 1007
#define IDC_imgHeader 1008  // small picture at the right of the header band

// tbshWelcome
#define IDC_imgWelcome 1101  // picture at the left
#define IDC_Label11 1102
#define IDC_Label12 1103
#define IDC_bvlWelcome 1104  // separator
#define IDC_Label2 1105
#define IDC_Label20 1106
#define IDC_imgLinkDbGuides 1107  // small icon before the link
#define IDC_lbLinkDbGuides 1108

// tbshSelectDatabases
#define IDC_Label1 1201
#define IDC_chbSelectAswl 1202
#define IDC_chbSelectGrey 1203
#define IDC_chbSelectDha 1204
#define IDC_chbSelectHoneypot 1205

// tbshSelectAswlDbParams
#define IDC_Label3 1301
#define IDC_Label5 1302
#define IDC_editAswlDbLocalPath 1303
#define IDC_sbtnSelectAswlDbLocalPath 1304
#define IDC_Label7 1305
#define IDC_editAswlDbExternalConnString 1306
#define IDC_btnTestAswlConnection 1307
#define IDC_lbTestingAswlConnection 1308

// tbshSelectGreyDbParams
#define IDC_Label13 1401
#define IDC_lbGreyDbLocalPath 1402
#define IDC_editGreyDbLocalPath 1403
#define IDC_sbtnSelectGreyDbLocalPath 1404
#define IDC_lbGreyDbExternalConnString 1405
#define IDC_editGreyDbExternalConnString 1406
#define IDC_btnTestGreyConnection 1407
#define IDC_lbTestingGreyConnection 1408

// tbshSelectDhaDbParams
#define IDC_Label4 1501
#define IDC_Label16 1502
#define IDC_editDhaDbLocalPath 1503
#define IDC_sbtnSelectDhaDbLocalPathClick 1504
#define IDC_Label19 1505
#define IDC_editDhaDbExternalConnString 1506
#define IDC_btnTestDhaConnection 1507
#define IDC_lbTestingDhaConnection 1508

// tbshSelectHoneypotParams
#define IDC_Label21 1601
#define IDC_Label22 1602
#define IDC_editHoneypotDbLocalPath 1603
#define IDC_sbtnSelectHoneypotDbLocalPath 1604
#define IDC_Label23 1605
#define IDC_editHoneypotDbExternalConnString 1606
#define IDC_btnTestHoneypotConnection 1607
#define IDC_lbTestingHoneypotConnection 1608

// tbshBeginConversion
#define IDC_Label9 1701
#define IDC_pnlImportant 1702  // sunken panel
#define IDC_imgImportant 1703
#define IDC_Label14 1704
#define IDC_Label15 1705

// tbshConversion
#define IDC_Label10 1801
#define IDC_imgConversion 1802
#define IDC_lbCurrentOperation 1803
#define IDC_pbarConversion 1804
#define IDC_lbEstimatedTimeRemainingTitle 1805
#define IDC_lbEstimatedTimeRemaining 1806

// tbshFinishedWithError
#define IDC_imgConversionError 1901
#define IDC_lbConversionErrorWarning 1902
#define IDC_memoConversionErrorInfo 1903

// tbshGracefulFinish
#define IDC_imgFinished 2001
#define IDC_Label17 2002
#define IDC_Label18 2003

// Resources
#define IDI_MRVDBCONV 1
