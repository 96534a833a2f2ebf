// PDModelHFT: the "PDModel" table — documents, pages, word finding and the
// document information — and its constants. Selectors are append-only.
#pragma once

#include "ASTypes.h"

#define PDModelHFTName "PDModel"
#define PDModelHFT_VERSION_2 ASVersionMake(2, 0)
#define PDModelHFT_VERSION_2_1 ASVersionMake(2, 1)
#define PDModelHFT_VERSION_2_2 ASVersionMake(2, 2)
#define PDModelHFT_VERSION_2_3 ASVersionMake(2, 3)
#define PDModelHFT_VERSION_4 ASVersionMake(4, 0)
#define PDModelHFT_VERSION_5 ASVersionMake(5, 0)
#define PDModelHFT_VERSION_6 ASVersionMake(6, 0)
#define PDModelHFT_VERSION_7 ASVersionMake(7, 0)
#define PDModelHFT_VERSION_8 ASVersionMake(8, 0)
#define PDModelHFT_VERSION_9 ASVersionMake(9, 0)
#define PDModelHFT_LATEST_VERSION PDModelHFT_VERSION_9

// Page numbers (zero-based; these stand for ranges).
enum { PDBeforeFirstPage = -1, PDLastPage = -2, PDAllPages = -3, PDOddPagesOnly = -4, PDEvenPagesOnly = -5 };

// PDDocInsertPages flags.
enum { PDInsertBookmarks = 0x0001, PDInsertThreads = 0x0002, PDInsertAll = 0x1000 };

// PDDocSave flags.
typedef ASEnum16 PDSaveFlags;
enum {
    PDSaveIncremental = 0x00,
    PDSaveFull = 0x01,
    PDSaveCopy = 0x02,
    PDSaveLinearized = 0x04,
    PDSaveWithPSHeader = 0x08,
    PDSaveBinaryOK = 0x10,
    PDSaveCollectGarbage = 0x20,
    PDSaveForceIncremental = 0x40,
    PDSaveKeepModDate = 0x80,
    PDSaveLeaveOpen = 0x100
};

// Document flags (PDDocClearFlags and friends).
enum {
    PDDocNeedsSave = 0x0001,
    PDDocRequiresFullSave = 0x0002,
    PDDocIsModified = 0x0004,
    PDDocDeleteOnClose = 0x0008,
    PDDocWasRepaired = 0x0010,
    PDDocNewMajorVersion = 0x0020,
    PDDocNewMinorVersion = 0x0040,
    PDDocOldVersion = 0x0080,
    PDDocSuppressErrors = 0x0100,
    PDDocIsEmbedded = 0x0200,
    PDDocIsLinearized = 0x0400
};

// Word finder: algorithm versions and reading-order flags.
enum { WF_LATEST_VERSION = 0, WF_VERSION_2 = 2, WF_VERSION_3 = 3, WF_VERSION_4 = 4 };
enum { WXE_STREAM = 0x1, WXE_PDF_ORDER = 0x2, WXE_XY_SORT = 0x4, WXE_RD_ORDER_SORT = 0x8 };

// Word attributes (PDWordGetAttr).
enum {
    HAS_NONALPHANUM = 0x0001,
    HAS_LETTER = 0x0002,
    HAS_UPPERCASE = 0x0004,
    HAS_DIGIT = 0x0008,
    HAS_PUNCTUATION = 0x0010,
    HAS_HYPHEN = 0x0020,
    HAS_SOFT_HYPHEN = 0x0040,
    HAS_LIGATURE = 0x0080,
    HAS_LEADING_PUNC = 0x0100,
    HAS_TRAILING_PUNC = 0x0200,
    HAS_UNMAPPED_CHAR = 0x0400,
    WXE_ADJACENT_TO_SPACE = 0x0800,
    WXE_ROTATED = 0x1000,
    WXE_VERTICAL_FLOW = 0x2000,
    WXE_WBREAK_WORD = 0x4000,
    WXE_LAST_WORD_ON_LINE = 0x8000
};

// Character types PDWordGetASText can leave out.
enum {
    W_CNTL = 0x0001,
    W_LETTER = 0x0002,
    W_UPPERCASE = 0x0004,
    W_DIGIT = 0x0008,
    W_PUNCTUATION = 0x0010,
    W_HYPHEN = 0x0020,
    W_SOFT_HYPHEN = 0x0040,
    W_LIGATURE = 0x0080,
    W_WHITE = 0x0100,
    W_COMMA = 0x0200,
    W_PERIOD = 0x0400,
    W_ACCENT = 0x0800,
    W_UNMAPPED = 0x1000,
    W_END_PHRASE = 0x2000,
    W_WILD_CARD = 0x4000,
    W_WORD_BREAK = 0x8000
};

// PDDocPermRequest: what is asked about, the operation, and the answer.
typedef ASInt32 PDPermReqObj;
enum {
    PDPermReqObjDoc = 1,
    PDPermReqObjPage,
    PDPermReqObjLink,
    PDPermReqObjBookmark,
    PDPermReqObjThumbnail,
    PDPermReqObjAnnot,
    PDPermReqObjForm,
    PDPermReqObjSignature,
    PDPermReqObjEF,
    PDPermReqObjLast
};
typedef ASInt32 PDPermReqOpr;
enum {
    PDPermReqOprAll = 1,
    PDPermReqOprCreate,
    PDPermReqOprDelete,
    PDPermReqOprModify,
    PDPermReqOprCopy,
    PDPermReqOprAccessible,
    PDPermReqOprSelect,
    PDPermReqOprOpen,
    PDPermReqOprSecure,
    PDPermReqOprPrintHigh,
    PDPermReqOprPrintLow,
    PDPermReqOprFillIn,
    PDPermReqOprRotate,
    PDPermReqOprCrop,
    PDPermReqOprSummarize,
    PDPermReqOprInsert,
    PDPermReqOprReplace,
    PDPermReqOprReorder,
    PDPermReqOprFullSave,
    PDPermReqOprImport,
    PDPermReqOprExport,
    PDPermReqOprAny,
    PDPermReqOprUnknownOpr,
    PDPermReqOprLast
};
typedef ASInt16 PDPermReqStatus;
#define PDPermReqDenied ((PDPermReqStatus)-1)
#define PDPermReqGranted ((PDPermReqStatus)0)
#define PDPermReqUnknownObject ((PDPermReqStatus)1)
#define PDPermReqUnknownOperation ((PDPermReqStatus)2)
#define PDPermReqOperationNA ((PDPermReqStatus)3)

// Authorisation procedures for protected documents (always null here).
typedef ACCBPROTO1 ASBool(ACCBPROTO2* PDAuthProc)(PDDoc pdDoc);
typedef ACCBPROTO1 ASBool(ACCBPROTO2* PDAuthProcEx)(PDDoc pdDoc, void* clientData);

enum {
    PDModelBAD_SELECTOR = 0,
    PDDocOpenExSEL,
    PDDocOpenSEL,
    PDDocCreateSEL,
    PDDocSaveSEL,
    PDDocCloseSEL,
    PDDocGetFileSEL,
    PDDocGetNumPagesSEL,
    PDDocInsertPagesSEL,
    PDDocDeletePagesSEL,
    PDDocClearFlagsSEL,
    PDDocCreateWordFinderUCSSEL,
    PDWordFinderAcquireWordListSEL,
    PDWordFinderGetNthWordSEL,
    PDWordGetASTextSEL,
    PDWordGetAttrSEL,
    PDWordFinderReleaseWordListSEL,
    PDWordFinderDestroySEL,
    PDDocGetInfoASTextSEL,
    PDDocSetInfoAsASTextSEL,
    PDDocPermRequestSEL,
    PDModelNUMSELECTORSplusOne
};
#define PDModelNUMSELECTORS (PDModelNUMSELECTORSplusOne - 1)

typedef ACCBPROTO1 PDDoc(ACCBPROTO2* PDDocOpenExSELPROTO)(ASPathName fileName, ASFileSys fileSys,
                                                          PDAuthProcEx authProcEx, void* authProcClientData,
                                                          ASBool doRepair);
typedef ACCBPROTO1 PDDoc(ACCBPROTO2* PDDocOpenSELPROTO)(ASPathName fileName, ASFileSys fileSys, PDAuthProc authProc,
                                                        ASBool doRepair);
typedef ACCBPROTO1 PDDoc(ACCBPROTO2* PDDocCreateSELPROTO)(void);
typedef ACCBPROTO1 void(ACCBPROTO2* PDDocSaveSELPROTO)(PDDoc doc, PDSaveFlags saveFlags, ASPathName newPath,
                                                       ASFileSys fileSys, ProgressMonitor progMon,
                                                       void* progMonClientData);
typedef ACCBPROTO1 void(ACCBPROTO2* PDDocCloseSELPROTO)(PDDoc doc);
typedef ACCBPROTO1 ASFile(ACCBPROTO2* PDDocGetFileSELPROTO)(PDDoc doc);
typedef ACCBPROTO1 ASInt32(ACCBPROTO2* PDDocGetNumPagesSELPROTO)(PDDoc doc);
typedef ACCBPROTO1 void(ACCBPROTO2* PDDocInsertPagesSELPROTO)(PDDoc doc, ASInt32 mergeAfterThisPage, PDDoc doc2,
                                                              ASInt32 startPage, ASInt32 numPages, ASUns16 insertFlags,
                                                              ProgressMonitor progMon, void* progMonClientData,
                                                              CancelProc cancelProc, void* cancelProcClientData);
typedef ACCBPROTO1 void(ACCBPROTO2* PDDocDeletePagesSELPROTO)(PDDoc doc, ASInt32 firstPage, ASInt32 lastPage,
                                                              ProgressMonitor progMon, void* progMonClientData);
typedef ACCBPROTO1 void(ACCBPROTO2* PDDocClearFlagsSELPROTO)(PDDoc doc, ASInt32 flags);
typedef ACCBPROTO1 PDWordFinder(ACCBPROTO2* PDDocCreateWordFinderUCSSELPROTO)(PDDoc doc, ASInt16 algVersion,
                                                                              ASUns16 rdFlags, void* clientData);
typedef ACCBPROTO1 void(ACCBPROTO2* PDWordFinderAcquireWordListSELPROTO)(PDWordFinder wObj, ASInt32 pgNum,
                                                                         PDWord* wInfoP, PDWord** xySortTable,
                                                                         PDWord** rdOrderTable, ASInt32* numWords);
typedef ACCBPROTO1 PDWord(ACCBPROTO2* PDWordFinderGetNthWordSELPROTO)(PDWordFinder wObj, ASInt32 nth);
// Replaces the content of text (an existing object) with the word's characters,
// leaving out the character types in filter.
typedef ACCBPROTO1 void(ACCBPROTO2* PDWordGetASTextSELPROTO)(PDWord word, ASUns32 filter, ASText text);
typedef ACCBPROTO1 ASUns16(ACCBPROTO2* PDWordGetAttrSELPROTO)(PDWord word);
typedef ACCBPROTO1 void(ACCBPROTO2* PDWordFinderReleaseWordListSELPROTO)(PDWordFinder wObj, ASInt32 pgNum);
typedef ACCBPROTO1 void(ACCBPROTO2* PDWordFinderDestroySELPROTO)(PDWordFinder wObj);
// Fills the caller's value text with the entry key of the document information.
typedef ACCBPROTO1 void(ACCBPROTO2* PDDocGetInfoASTextSELPROTO)(PDDoc doc, const ASText key, ASText value);
typedef ACCBPROTO1 void(ACCBPROTO2* PDDocSetInfoAsASTextSELPROTO)(PDDoc doc, const ASText key, const ASText value);
// Whether the document allows the operation on the object (its encryption, certification and
// signature locks decide); authData is unused (null).
typedef ACCBPROTO1 PDPermReqStatus(ACCBPROTO2* PDDocPermRequestSELPROTO)(PDDoc doc, PDPermReqObj reqObj,
                                                                         PDPermReqOpr reqOpr, void* authData);
