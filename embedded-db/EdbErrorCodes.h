#pragma once
// The engine's native error codes, the five-digit numbers EEdbException carries (what() ends in
// " - Native error: NNNNN"). Every raise and every test of a code uses these names; each is
// named after what it means where it is raised. Several codes share one message text: the code
// tells the places apart.

namespace edb::errc {

// ---- database file object --------------------------------------------------------------------
constexpr int kUnknownAccessMode = 30366;  // "Unknown Access mode: '%d'"
constexpr int kUnknownShareMode = 30367;   // "Unknown Share mode: '%d'"
constexpr int kFileClosed = 30376;         // "Cannot perform this operation (%s) on a closed file"
constexpr int kFileAlreadyOpened = 30377;  // "... on a opened file" (open, create)
constexpr int kBlankFileName = 30374;      // "Cannot create file with blank FileName"
constexpr int kCannotCreateFile = 30361;
constexpr int kCannotOpenFile = 30364;
constexpr int kCannotCloseFile = 30365;
constexpr int kCannotSetFilePosition = 30372;  // the default; callers may pass their own
constexpr int kCannotTruncateFile = 30370;
constexpr int kCannotGetFileSize = 30371;
constexpr int kCannotFlushFile = 30379;

// ---- opening, creating and the file header ---------------------------------------------------
constexpr int kCreateDatabaseInUse = 10461;  // "Error - database file %s is in use." (create)
constexpr int kOpenDatabaseInUse = 10462;    // the same message (open)
constexpr int kDatabaseNotOpened =
    10459;  // "Error - database file is not opened." (read header, page numbers)
constexpr int kWriteHeader = 10460;  // writing the header area; also its "not opened" case
constexpr int kReadHeader = 10464;   // reading the file header (and the signature search)
constexpr int kReadCheckBlock = 30439;
constexpr int kReadLockAreaLength = 30442;
constexpr int kReadObjectIdCounter = 30400;
constexpr int kInvalidFileSignature = 10470;   // "Invalid file format. Found signature: ..."
constexpr int kIncorrectPassword = 30445;      // "Cannot open database because incorrect password"
constexpr int kInvalidDatabaseFormat = 20237;  // "Invalid database format"
constexpr int kObjectIdLocked = 30401;         // "Cannot get NextObjectID. File area is Locked."
// "Database is locked": the header lock could not be had ...
constexpr int kLockedOnOpen = 20230;       // ... to read the header at open
constexpr int kLockedOnAllocate = 20231;   // ... to allocate a page number
constexpr int kLockedOnRelease = 20232;    // ... to release a page number or trim the file
constexpr int kLockedOnCommit = 20213;     // ... to commit
constexpr int kLockedOnPageCount = 20236;  // ... at the one try of the total page count

// ---- pages and the page manager --------------------------------------------------------------
constexpr int kInvalidPageNo = 10471;  // "Invalid PageNo = %d"
constexpr int kReadPage = 10474;       // reading a page or part of one
constexpr int kWritePage = 10469;
constexpr int kWritePagePart = 10475;
constexpr int kInvalidPageOffsetRead = 10476;  // "Error - invalid page offset = %d, page size = %d"
constexpr int kInvalidPageOffsetWrite = 10477;
constexpr int kReadPageChangeCounter = 20197;
constexpr int kWritePageChangeCounter = 20198;
constexpr int kPageBufferNil = 20038;  // "Invalid page buffer. Buffer is Nil"
constexpr int kInvalidPageModification = 20039;
constexpr int kAddPageInvalidNumber = 20064;  // "Invalid page number" (add page)
constexpr int kCommitPageNotDirty = 20085;    // "Invalid dirty page"
constexpr int kCommitPageInUse = 20086;       // "Cannot write used page"
constexpr int kRollbackPageNotDirty = 20087;  // "Invalid index page"
constexpr int kRollbackPageInUse = 20088;     // "Cannot remove used page"
constexpr int kPageUsedByOtherSession = 20090;
constexpr int kUncommittedPages = 20097;  // "Cannot free not commited pages"
constexpr int kSessionPagesNotReleased = 20152;
constexpr int kInvalidPageType = 20153;  // "Invalid page type. Possibly data is corrupted. ..."
constexpr int kInvalidSessionId = 20186;
constexpr int kUnknownPageType = 30382;  // "Unknown Page Type: (%d)"
constexpr int kPageCrcMismatch = 30446;  // "Decrypt page error. Check CRC failed. PageNo: %d"

// ---- sorted page list ------------------------------------------------------------------------
constexpr int kPageListEmpty = 20165;  // "TSortedPageList.Delete - no elements in array!"
constexpr int kPageListDuplicate =
    20166;  // "TSortedPageList.Insert - duplicate key ..." / Delete not found
constexpr int kPageNotInList = 20167;  // "Page not found"

// ---- free-space map --------------------------------------------------------------------------
constexpr int kMapPageForSearch = 30423;   // a map page of the wrong type while searching
constexpr int kMapPageForMarking = 30424;  // ... while setting a PFS bit
constexpr int kMapPageForEam = 30428;      // ... while recomputing an EAM entry
constexpr int kMapPageForTest = 30432;     // ... while testing a PFS bit
constexpr int kPageAlreadyUsed = 30425;
constexpr int kPageAlreadyFree = 30427;
constexpr int kPageNotAddressable = 30430;     // "Page: %d cannot be addressed. TotalPageCount=%d"
constexpr int kPageNotAddressableEam = 30431;  // the same, for an EAM entry
constexpr int kCannotDeleteMapPage = 30434;    // "Cannot delete PFS or EAM page. PageNo=%d"

// ---- internal files, system directory, connections, table list -------------------------------
constexpr int kInternalFileWrongPageType = 20155;  // "Invalid PageType found: %d but wanted: %d"
constexpr int kDirectFileClosed = 20156;
constexpr int kDirectFileExists = 20157;
constexpr int kDirectFileWritePastEnd = 20158;
constexpr int kDirectFileSeekPastEnd = 20159;
constexpr int kTransactedFileClosed = 30389;
constexpr int kTransactedFileExists = 30383;
constexpr int kInternalFileReadPastSize =
    30387;  // "Cannot Read internal file. FileSize=%d. ReadSize=%d"
constexpr int kInternalFileShortRead = 30388;  // "Cannot read internal file. Bytes wanted=%d. ..."
constexpr int kTableFileCompression = 20187;
constexpr int kTableFileDecompression = 20189;
constexpr int kSystemDirectoryCreate = 30392;
constexpr int kConnectNotOpen = 20129;                // "Pointer is nil" (connect)
constexpr int kFindTableNotOpen = 20130;              // "Pointer is nil" (find table)
constexpr int kTableNamesNotOpen = 20131;             // "Pointer is nil" (list table names)
constexpr int kUnlockSessionsFileSingleUser = 20093;  // "Cannot unlock sessions file"
constexpr int kUnlockSessionsFile = 20096;            // the same, multi-user connect
constexpr int kNoFreeSession = 20094;  // "Cannot connect session. Maximum connections ..."
constexpr int kDisconnectSession = 20095;
constexpr int kTableExists = 30395;    // "Cannot create table. Table '%s' already exists"
constexpr int kTableNotFound = 30396;  // "Table '%s' not exists." (find)
constexpr int kRenameTableNotFound = 30397;
constexpr int kRemoveTableNotFound = 30405;

// ---- database component ----------------------------------------------------------------------
constexpr int kCannotConvertDatabase = 20238;    // a repair or conversion the reader cannot do
constexpr int kInvalidDatabasePassword = 20298;  // "Database password is invalid."

// ---- table metadata --------------------------------------------------------------------------
constexpr int kDuplicateFieldName = 10424;
constexpr int kAutoincMaxExceeded = 20160;
constexpr int kRecordTooLarge = 20174;   // "Cannot create table. Record is too large ..."
constexpr int kUnknownDataType = 30050;  // "Unknown DataType: '%s'"
constexpr int kUnknownConstraintType = 30316;
constexpr int kFieldNotFound = 30402;         // "Field #%d not found"
constexpr int kAutoincFieldNotFound = 30403;  // the same, no counter for the field
// The metadata stream ended inside an item (see EdbMetadataFormat.h for the items).
constexpr int kReadDefinitionCount = 10159;  // field, index and constraint counts
constexpr int kReadNameLength = 10166;
constexpr int kReadName = 10167;
constexpr int kReadObjectId = 10169;
constexpr int kReadBaseType = 10187;
constexpr int kReadAdvancedType = 10188;
constexpr int kReadFieldSize = 10189;
constexpr int kReadBlobCompression = 10192;
constexpr int kReadBlobCompressionMode = 10193;
constexpr int kReadBlobBlockSize = 10194;
constexpr int kReadAutoincIncrement = 30407;
constexpr int kReadAutoincInitialValue = 30408;
constexpr int kReadAutoincMinValue = 30409;
constexpr int kReadAutoincMaxValue = 30410;
constexpr int kReadAutoincCycled = 30411;
constexpr int kReadVariantType = 10183;
constexpr int kReadVariantEmpty = 10184;
constexpr int kReadVariantLength = 10185;
constexpr int kReadVariantData = 10186;
constexpr int kReadIndexAttribute0 = 10349;  // the three attribute bytes: 10349..10351
constexpr int kReadIndexColumnCount = 10352;
constexpr int kReadIndexPageNo = 10353;
constexpr int kReadIndexColumnNameLength = 10358;
constexpr int kReadIndexColumnName = 10359;
constexpr int kReadIndexColumnDescending = 10360;
constexpr int kReadIndexColumnCaseInsensitive = 10361;
constexpr int kReadIndexColumnExtra = 20168;
constexpr int kReadConstraintType = 10220;
// Check and not-null constraints: three ints, then three counted strings (length, bytes), at
// consecutive codes from these bases.
constexpr int kReadCheckConstraintItems = 10230;    // 10230..10238
constexpr int kReadNotNullConstraintItems = 10249;  // 10249..10257
// Key constraints (primary key, unique).
constexpr int kReadKeyConstraintInt0 = 30303;
constexpr int kReadKeyConstraintInt1 = 30304;
constexpr int kReadKeyConstraintInt2 = 30317;
constexpr int kReadKeyConstraintString0Length = 30305;
constexpr int kReadKeyConstraintString0 = 30306;
constexpr int kReadKeyConstraintString1Length = 30307;
constexpr int kReadKeyConstraintString1 = 30308;
constexpr int kReadKeyConstraintString2Length = 30321;
constexpr int kReadKeyConstraintString2 = 30322;
constexpr int kReadKeyConstraintColumnCount = 30309;
constexpr int kReadKeyConstraintColumnValue = 30310;
constexpr int kReadKeyConstraintColumnTextLength = 30311;
constexpr int kReadKeyConstraintColumnText = 30312;

// ---- record pages and the RecordPageIndex ----------------------------------------------------
constexpr int kInvalidRecordsOnPage = 20140;  // "Invalid number of records on page"
constexpr int kRecordNotFoundOnPage = 20143;  // "Record not found. PageNo=%d, PageRecordCount=%d"
constexpr int kLastRecordNotFound = 20144;    // "Record not found" (last / prior page empty)
constexpr int kRecNoSlotNotFound = 20146;     // "Record not found" (record number to ID)
constexpr int kRecNoBeyondCount = 20113;      // "Cannot set RecNo greater than RecordCount"
constexpr int kIndexNextNoPosition = 20099;   // "Index error: invalid position"
constexpr int kIndexPriorNoPosition = 20101;
constexpr int kIndexNextNoSibling = 20100;  // "Index error: invalid page number"
constexpr int kIndexPriorNoSibling = 20102;
constexpr int kIndexFirstNoRoot = 20115;
constexpr int kIndexLastNoRoot = 20116;
constexpr int kIndexNextPageNotIndexed = 20104;  // "Invalid page number"
constexpr int kIndexPriorPageNotIndexed = 20105;
constexpr int kIndexRecNoPageNotIndexed = 20114;
constexpr int kRecordCountMismatch = 20292;  // "Invalid table RecordPageIndex or MostUpdated. ..."

// ---- BLOBs -----------------------------------------------------------------------------------
constexpr int kCannotReadBlob = 20162;            // "Cannot read BLOB field value"
constexpr int kZeroBlockSize = 20149;             // "Stream block size = 0 is not allowed"
constexpr int kInvalidBlobSize = 20248;           // "Invalid blob field size"
constexpr int kBlobPageFull = 20290;              // "Cannot add blob. Page is full: ..."
constexpr int kBlobStoredTooSmall = 10081;        // "Stream size = %d too small. ..." (plain value)
constexpr int kBlobBlockHeaderTooSmall = 10082;   // the same, at a block header
constexpr int kBlobNextBlockOutOfRange = 10083;   // "Cannot set stream position to %d. ..."
constexpr int kBlobSeekOutOfRange = 10103;        // the same, seeking the value
constexpr int kCompressBlock = 10085;             // "Compress buffer failed. ..."
constexpr int kReadBlock = 10086;                 // "Cannot read from stream. ..."
constexpr int kDecompressBlock = 10087;           // "Decompress buffer failed. CompAlg = ..."
constexpr int kDecompressedSizeMismatch = 10088;  // "Decompress buffer failed. UncompSize = ..."
constexpr int kBlockChecksumMismatch = 10089;     // "Decompress buffer failed. CheckSum = ..."

}  // namespace edb::errc
