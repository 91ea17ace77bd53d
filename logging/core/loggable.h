// What a session can log beyond texts, numbers and files, as interfaces that the caller's own
// types implement: objects that list their properties and events (LogObject), tables read
// through a cursor (LogDataSet, LogDataSetSchema), exceptions that carry a stack trace
// (LogException), and money amounts (LogCurrency, WatchCurrency).
//
// Ownership: the session uses what it is given only during the call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace deruz::logging {

// A money amount as a 64-bit count of ten-thousandths (12.5 is {125000}).
struct TSiCurrency {
    std::int64_t Value;
};

// Implemented (besides std::exception) by exceptions that carry the text of the call stack
// where they were raised; LogException sends it as the entry's data.
class ISiStackTrace {
  public:
    virtual std::string StackTrace() const = 0;

  protected:
    virtual ~ISiStackTrace() = default;
};

// One property as LogObject lists it.
struct TSiLoggableProperty {
    std::string Name;
    std::string Value;
};

// One event as LogObject lists it: the handler's object, that object's class name and the
// handler's code address; a Method of nullptr means no handler is set.
struct TSiLoggableEvent {
    std::string Name;
    const void* Object = nullptr;
    std::string ClassName;
    const void* Method = nullptr;
};

// An object that LogObject can show: it lists its properties and its events. Objects of
// other types are logged as having no type information.
class ISiLoggable {
  public:
    virtual void GetProperties(std::vector<TSiLoggableProperty>& AProperties) const = 0;
    virtual void GetEvents(std::vector<TSiLoggableEvent>& /*AEvents*/) const {}

  protected:
    virtual ~ISiLoggable() = default;
};

// A column of a data set.
struct TSiFieldDef {
    std::string Name;
    std::string DataType;
    std::int32_t Size = 0;
    bool ReadOnly = false;
    // The column holds binary data, which LogDataSet shows as "<binary>".
    bool IsBinary = false;
};

// A table of rows read through a cursor, as database result sets are: LogDataSet walks it from
// First while not Eof, reading the current row's values, and can return the cursor to where
// the caller had it. Errors are raised as exceptions; LogDataSet turns them into internal
// errors.
class ISiDataSet {
  public:
    // The column definitions; a data set without any is empty.
    virtual std::vector<TSiFieldDef> FieldDefs() const = 0;
    virtual void First() = 0;
    virtual bool Eof() const = 0;
    virtual void Next() = 0;
    // The current row's value of the column AIndex; nothing for a null value. Not asked for
    // binary columns.
    virtual std::optional<std::string> FieldValue(std::size_t AIndex) const = 0;
    // A mark of the current row, and the return to a marked row.
    virtual std::int64_t GetBookmark() const = 0;
    virtual void GotoBookmark(std::int64_t ABookmark) = 0;

  protected:
    virtual ~ISiDataSet() = default;
};

}  // namespace deruz::logging
