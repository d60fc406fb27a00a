// The exception classes of the table engine and the component layer. Each
// carries one fixed message text from messages.h, sometimes with a name or a
// number attached.
#pragma once

#include "platform/exceptions.h"

namespace logvane {

// Definition, table, cursor, comparison and index-structure errors.
class EDedaZiDBError : public Exception {
 public:
  using Exception::Exception;
};

// Data-file input/output and the pinned-record table.
class EDedaZiRecMgrError : public Exception {
 public:
  using Exception::Exception;
};

// A duplicate primary key.
class EDuplicateKeyError : public EDedaZiDBError {
 public:
  using EDedaZiDBError::EDedaZiDBError;
};

// Blob file errors.
class EBlobError : public Exception {
 public:
  using Exception::Exception;
};

// Value-conversion errors of default texts.
class EMTBError : public Exception {
 public:
  using Exception::Exception;
};

// The dataset framework's error: the component's and the filter language's
// messages.
class EDatabaseError : public Exception {
 public:
  using Exception::Exception;
};

}  // namespace logvane
