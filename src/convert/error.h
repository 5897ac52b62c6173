// The engine's errors: a std::error_code, either a system's error number in
// std::generic_category() (folded into the few the program tells apart, see
// LastSystemError) or one of the engine's own conditions below in
// QuenlatCategory(). Every operation of the engine and its file layer that
// can fail returns one; nothing is left in errno.
#ifndef QUENLAT_CONVERT_ERROR_H
#define QUENLAT_CONVERT_ERROR_H

#include <string>
#include <system_error>

// What the engine finds wrong beyond what the system reports. The numbers
// are kept as they were when they travelled in an int: they never meet a
// system's error number.
enum class EngineError {
  // The path names no regular file: a device, a pipe, a socket, a device
  // name on Windows (CON, NUL, COM1, ...). Nothing was opened for reading or
  // writing.
  NotRegularFile = 1000,
  // The new content could not be given the file's owner or group.
  OwnerNotKept = 1001,
  // ... the file's access rules: its permission bits, its ACL, its DACL.
  AccessNotKept = 1002,
  // ... the file's other attributes: extended attributes on POSIX; on
  // Windows its attribute flags and creation time.
  AttributesNotKept = 1003,
  // Another program changed the file while it was converted, again on each
  // of the tries: it was not replaced and holds what was written to it.
  ChangedMeanwhile = 1004,
  // Another program had the file open for writing on each of the tries, so
  // it was not replaced: a write it made after the replace would have been
  // lost.
  InUse = 1005,
  // Another program holds the file open in a way that keeps it from being
  // opened as asked or replaced: a sharing or lock violation (Windows),
  // after about a second of waiting. Its sentence is that of EACCES.
  Held = 1006,
  // A sparse file (Windows), whose holes its new content would fill:
  // refused, untouched, unless ConvertOptions::fillSparse.
  Sparse = 1007,
  // The file holds a NUL byte beyond what the caller read of it and the
  // caller asked for binary files to be skipped (ConvertOptions::skipBinary):
  // it was left untouched, and its new content, if any was made, deleted.
  BinaryFound = 1008,
};

namespace std {
template <>
struct is_error_code_enum<EngineError> : true_type {};
}  // namespace std

// The category of EngineError; its messages are the console tool's reasons
// (ErrorReason).
const std::error_category& QuenlatCategory();

// EngineError as an error code: what makes `return EngineError::Held;` work
// in a function that returns std::error_code.
inline std::error_code make_error_code(EngineError e) {
  return std::error_code(static_cast<int>(e), QuenlatCategory());
}

// The engine's conditions under their short names.
constexpr EngineError kErrorNotRegularFile = EngineError::NotRegularFile;
constexpr EngineError kErrorOwnerNotKept = EngineError::OwnerNotKept;
constexpr EngineError kErrorAccessNotKept = EngineError::AccessNotKept;
constexpr EngineError kErrorAttributesNotKept = EngineError::AttributesNotKept;
constexpr EngineError kErrorChangedMeanwhile = EngineError::ChangedMeanwhile;
constexpr EngineError kErrorInUse = EngineError::InUse;
constexpr EngineError kErrorHeld = EngineError::Held;
constexpr EngineError kErrorSparse = EngineError::Sparse;
constexpr EngineError kErrorBinaryFound = EngineError::BinaryFound;

// An errno value (ENOENT, EACCES, ...) as an error code.
inline std::error_code Errno(int value) { return std::error_code(value, std::generic_category()); }

// The error of the system call that just failed (errno, or on Windows
// GetLastError()), folded into the numbers the program tells apart, by one
// table for each system:
//   ENOENT       the file or path does not exist (also a bad drive or share
//                name, or on POSIX a path through something that is no folder)
//   EACCES       access denied, a write-protected medium, on POSIX a folder
//                opened for writing (a sharing or lock violation on Windows is
//                kErrorHeld, with the same sentence)
//   ENOSPC       the disk is full, or the user's quota used up
//   ENAMETOOLONG a path or a name longer than the system takes
//   EPIPE        a pipe whose other end is gone
//   anything else: on POSIX errno as it is, on Windows EIO.
std::error_code LastSystemError();

// A failure and the file it befell, as the user named it (or as the engine
// made it absolute, where the user's name is not at hand): what a report
// shows.
struct FileError {
  std::string path;
  std::error_code code;
};

#endif
