// The errors the data layer raises. Everything else reports failure by its result.
#pragma once

#include <stdexcept>
#include <string>

class EVarnelError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A file past the size the tool reads: "Cannot read file "name": larger than N bytes".
class EFileTooLarge : public EVarnelError {
 public:
  using EVarnelError::EVarnelError;
};

// An integer conversion outside the signed 32-bit range.
class ERangeError : public EVarnelError {
 public:
  ERangeError() : EVarnelError("Range check error") {}
};

// A value beyond single-precision range given to a real variable.
class EOverflowError : public EVarnelError {
 public:
  EOverflowError() : EVarnelError("Floating point overflow") {}
};

// A malformed allocation file line: "Error parsing ALC data on line <index>".
class EAlcParseError : public EVarnelError {
 public:
  explicit EAlcParseError(int line)
      : EVarnelError("Error parsing ALC data on line " + std::to_string(line)), fLine(line) {}
  int Line() const { return fLine; }

 private:
  int fLine;
};

// Zip archive errors: "Index out of range.", corrupt deflate data, members too large.
class EZipError : public EVarnelError {
 public:
  using EVarnelError::EVarnelError;
};

// An extracted member whose CRC-32 differs: CRC Error in "name".
class EZipFileCRCError : public EZipError {
 public:
  using EZipError::EZipError;
};
