/* Compiled as C89, C99 and C++11 with every warning an error: the public header must build
   in all of them, and its constants must be distinct usable constant expressions. */
#include "kivmod/kivmod.h"

#if KIVMOD_VERSION_MAJOR != EXPECTED_MAJOR || KIVMOD_VERSION_MINOR != EXPECTED_MINOR || \
    KIVMOD_VERSION_PATCH != EXPECTED_PATCH
#error "the header's version differs from the project's"
#endif

/* A duplicate case value does not compile: every report code and every result is distinct. */
int kiv_header_report_index(unsigned code);
int kiv_header_report_index(unsigned code) {
  switch (code) {
    case KIV_REPORT_LIST_FAILED: return 1;
    case KIV_REPORT_DETAILS_FAILED: return 2;
    case KIV_REPORT_LOCAL_FILE_FAILED: return 3;
    case KIV_REPORT_NOT_KNOWN: return 4;
    case KIV_REPORT_TYPE_NOT_TO_PC: return 5;
    case KIV_REPORT_TRANSFER_FAILED: return 6;
    case KIV_REPORT_PATH_TOO_LONG: return 7;
    case KIV_REPORT_FOLDER_NAME_TOO_LONG: return 8;
    case KIV_REPORT_FOLDER_NOT_WRITABLE: return 9;
    case KIV_REPORT_EXTENSION_REFUSED: return 10;
    case KIV_REPORT_FILE_TOO_LARGE: return 11;
    case KIV_REPORT_TARGET_READ_ONLY: return 12;
    case KIV_REPORT_SOURCE_READ_ONLY: return 13;
    case KIV_REPORT_NO_SPACE: return 14;
    case KIV_REPORT_SEND_REFUSED: return 15;
    case KIV_REPORT_SEND_FAILED: return 16;
    case KIV_REPORT_FOLDER_FIXED: return 17;
    case KIV_REPORT_HIDDEN_SUBFOLDER: return 18;
    case KIV_REPORT_FILE_READ_ONLY: return 19;
    case KIV_REPORT_DELETE_FAILED: return 20;
    case KIV_REPORT_EXTENSION_CHANGE: return 21;
    case KIV_REPORT_RENAME_FAILED: return 22;
    case KIV_REPORT_SPACE_FAILED: return 23;
    case KIV_REPORT_RESUME_SOURCE: return 24;
    case KIV_REPORT_CONNECT_FAILED: return 25;
    case KIV_REPORT_FOLDER_NOT_TO_PC: return 26;
    default: return 0;
  }
}

int kiv_header_result_index(int result);
int kiv_header_result_index(int result) {
  switch (result) {
    case KIV_RESULT_LOCKED: return 1;
    case KIV_RESULT_TYPE_NOT_TO_PHONE: return 2;
    case KIV_RESULT_EXTENSION_REFUSED: return 3;
    case KIV_RESULT_NO_SPACE: return 4;
    case KIV_RESULT_TOO_LONG_OR_BUSY: return 5;
    case KIV_RESULT_UNKNOWN_FILE: return 6;
    case KIV_RESULT_CANCELLED: return 7;
    case KIV_RESTORE_PHONE_FULL: return 8;
    case KIV_EMAIL_CANCELLED: return 9;
    default: return 0;
  }
}

int kiv_header_notice_index(int notice);
int kiv_header_notice_index(int notice) {
  switch (notice) {
    case KIV_EMAIL_HEADER_ACCEPTED: return 1;
    case KIV_EMAIL_HEADER_FAILED: return 2;
    case KIV_EMAIL_BODY_ACCEPTED: return 3;
    case KIV_EMAIL_BODY_FAILED: return 4;
    case KIV_EMAIL_ATTACH_ACCEPTED: return 5;
    case KIV_EMAIL_ATTACH_FAILED: return 6;
    case KIV_EMAIL_ATTACH_START: return 7;
    default: return 0;
  }
}

/* The records keep the fields hosts read. */
int kiv_header_records(const KivReport* r, const KivProgress* p, const KivEmailHeader* h);
int kiv_header_records(const KivReport* r, const KivProgress* p, const KivEmailHeader* h) {
  return (int)r->style + p->question + (int)h->attachmentCount + (r->text1 == h->bodyName);
}
