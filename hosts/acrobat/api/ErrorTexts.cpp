// ErrorTexts: the message of each error the host raises, by error system and
// number. The six texts of the page-insertion errors are fixed words the
// FileMaker side shows as well; keep them exactly as they stand.
#include "ErrorTexts.h"

namespace acro_host {

const std::vector<ErrorText>& errorTexts() {
    static const std::vector<ErrorText> table = {
        // General.
        {ErrSysNone, genErrGeneral, "An internal error occurred."},
        {ErrSysNone, genErrNoMemory, "Insufficient memory to complete the operation."},
        {ErrSysNone, genErrBadParm, "Bad parameter."},
        {ErrSysNone, genErrListOverflow, "A list grew beyond its limit."},
        {ErrSysNone, genErrBadUnlock, "An object was released more often than it was held."},
        {ErrSysNone, genErrExceptionStackOverflow, "Too many nested exception handlers."},
        {ErrSysNone, genErrResourceLoadFailed, "A resource could not be loaded."},
        {ErrSysNone, genErrNameAlreadyRegistered, "That name is already registered."},
        {ErrSysNone, genErrMethodNotImplemented, "This operation is not available in this version of the application."},
        {ErrSysNone, genErrCanceled, "The operation was cancelled."},
        // Documents.
        {ErrSysPDDoc, pdErrUnableToOpenDoc, "The document could not be opened."},
        {ErrSysPDDoc, pdErrIsFileLocked, "The file is locked or in use by another application."},
        {ErrSysPDDoc, pdErrUnableToWrite, "The file could not be written."},
        {ErrSysPDDoc, pdErrUnableToRead, "The file could not be read."},
        {ErrSysPDDoc, pdErrUnknownFileType, "The file is not a PDF document or is of a kind that cannot be opened."},
        {ErrSysPDDoc, pdErrTooManyPagesForInsert, "Too many pages for insertion."},
        {ErrSysPDDoc, pdErrNeedRebuild, "The file is damaged and could not be repaired."},
        {ErrSysPDDoc, pdErrNeedPassword, "The document is protected by a password and cannot be opened without it."},
        {ErrSysPDDoc, pdErrOpNotPermitted, "Operation not permitted."},
        {ErrSysPDDoc, pdErrCantUseNewVersion,
         "This document contains information not understood by the viewer. It may be in a newer file format."},
        {ErrSysPDDoc, pdErrWhileRecoverInsertPages,
         "There was an error while inserting pages and another error while trying to recover."},
        {ErrSysPDDoc, pdErrNotValidPage, "That page is not part of the document."},
        {ErrSysPDDoc, pdErrInvalidPageNumber, "The page number is out of range."},
        // Files.
        {ErrSysASFile, fileErrGeneral, "A file error occurred."},
        {ErrSysASFile, fileErrFNF, "The file does not exist."},
        {ErrSysASFile, fileErrDiskFull, "The disk is full."},
        {ErrSysASFile, fileErrIO, "The file could not be read or written."},
        {ErrSysASFile, fileErrWrite, "The file could not be written."},
        {ErrSysASFile, fileErrPermission, "Permission to use the file was denied."},
        {ErrSysASFile, fileErrBadName, "The file name is not valid."},
        {ErrSysASFile, fileErrIsDirectory, "The path names a folder, not a file."},
    };
    return table;
}

}  // namespace acro_host
