// The generators of TSiSession's families: each macro writes out, from one row of a family's
// table in session.h, the overloads that the family's rule gives a member (the level pair,
// the title and format forms, the instance forms, the value and watch members of one kind).
// Every generated body is one line that calls the family's rule (session-inl.h), so a member
// behaves exactly as its family says. Used only inside the class TSiSession, and undefined at
// the end of session.h.
#pragma once

// (a, b) -> a, b: a parameter or argument list passed to a macro in parentheses.
#define SI_SESSION_UNPAREN(...) __VA_ARGS__

// A member in its level pair: Name(Params) at the core's DefaultLevel, and
// Name(TSiLevel ALevel, Params), defined in session-inl.h.
#define SI_SESSION_PAIR(Name, Params, Args)            \
    void Name(SI_SESSION_UNPAREN Params) {             \
        Name(DefaultLevel(), SI_SESSION_UNPAREN Args); \
    }                                                  \
    void Name(TSiLevel ALevel, SI_SESSION_UNPAREN Params);

// A member without arguments in its level pair: AAction after the level test.
#define SI_SESSION_UNTITLED(Name, AAction) \
    void Name() {                          \
        Name(DefaultLevel());              \
    }                                      \
    void Name(TSiLevel ALevel) {           \
        if (IsOn(ALevel)) (AAction);       \
    }

// A message at a fixed level, with a title or a format.
#define SI_SESSION_FIXED(Name, ALevel, AType)                                     \
    void Name(std::string_view ATitle) {                                          \
        LogFixed(ALevel, AType, ATitle);                                          \
    }                                                                             \
    void Name(std::string_view AFmt, std::initializer_list<TSiFormatArg> AArgs) { \
        LogFixed(#Name, ALevel, AType, AFmt, AArgs);                              \
    }

// A titled member (rule Titled<AWhat>) in its title and format forms, level pair.
#define SI_SESSION_TITLED(Ret, Name, AWhat)                                                       \
    Ret Name(std::string_view ATitle) {                                                           \
        return Name(DefaultLevel(), ATitle);                                                      \
    }                                                                                             \
    Ret Name(TSiLevel ALevel, std::string_view ATitle) {                                          \
        return Titled<AWhat>(ALevel, #Name, TTitle{ATitle});                                      \
    }                                                                                             \
    Ret Name(std::string_view AFmt, std::initializer_list<TSiFormatArg> AArgs) {                  \
        return Name(DefaultLevel(), AFmt, AArgs);                                                 \
    }                                                                                             \
    Ret Name(TSiLevel ALevel, std::string_view AFmt, std::initializer_list<TSiFormatArg> AArgs) { \
        return Titled<AWhat>(ALevel, #Name, TTitle{AFmt, &AArgs});                                \
    }

// The instance forms of a titled member: the instance's class name and "." before the title
// or the formatted text, level pair.
#define SI_SESSION_INSTANCE(Ret, Name, AWhat)                                                  \
    template <TSiInstanceType T>                                                               \
    Ret Name(const T* AInstance, std::string_view ATitle) {                                    \
        return Name(DefaultLevel(), AInstance, ATitle);                                        \
    }                                                                                          \
    template <TSiInstanceType T>                                                               \
    Ret Name(TSiLevel ALevel, const T* AInstance, std::string_view ATitle) {                   \
        return Titled<AWhat>(ALevel, #Name, TTitle{ATitle, nullptr, true, TypeOf(AInstance)}); \
    }                                                                                          \
    template <TSiInstanceType T>                                                               \
    Ret Name(const T* AInstance, std::string_view AFmt,                                        \
             std::initializer_list<TSiFormatArg> AArgs) {                                      \
        return Name(DefaultLevel(), AInstance, AFmt, AArgs);                                   \
    }                                                                                          \
    template <TSiInstanceType T>                                                               \
    Ret Name(TSiLevel ALevel, const T* AInstance, std::string_view AFmt,                       \
             std::initializer_list<TSiFormatArg> AArgs) {                                      \
        return Titled<AWhat>(ALevel, #Name, TTitle{AFmt, &AArgs, true, TypeOf(AInstance)});    \
    }

// A titled member whose title follows one more argument (AType AName), passed to the rule.
#define SI_SESSION_TITLED_AFTER(AType, AName, Name, AWhat)                                     \
    void Name(AType AName, std::string_view ATitle) {                                          \
        Name(DefaultLevel(), AName, ATitle);                                                   \
    }                                                                                          \
    void Name(TSiLevel ALevel, AType AName, std::string_view ATitle) {                         \
        Titled<AWhat>(ALevel, #Name, TTitle{ATitle}, AName);                                   \
    }                                                                                          \
    void Name(AType AName, std::string_view AFmt, std::initializer_list<TSiFormatArg> AArgs) { \
        Name(DefaultLevel(), AName, AFmt, AArgs);                                              \
    }                                                                                          \
    void Name(TSiLevel ALevel, AType AName, std::string_view AFmt,                             \
              std::initializer_list<TSiFormatArg> AArgs) {                                     \
        Titled<AWhat>(ALevel, #Name, TTitle{AFmt, &AArgs}, AName);                             \
    }

// The value member Log<Kind> and the watch member Watch<Kind> of one kind (rule Value).
#define SI_SESSION_VALUE(Kind, AType, AForm)                                  \
    void Log##Kind(std::string_view AName, AType AValue) {                    \
        Log##Kind(DefaultLevel(), AName, AValue);                             \
    }                                                                         \
    void Log##Kind(TSiLevel ALevel, std::string_view AName, AType AValue) {   \
        Value<false>(ALevel, AName, AValue, AForm);                           \
    }                                                                         \
    void Watch##Kind(std::string_view AName, AType AValue) {                  \
        Watch##Kind(DefaultLevel(), AName, AValue);                           \
    }                                                                         \
    void Watch##Kind(TSiLevel ALevel, std::string_view AName, AType AValue) { \
        Value<true>(ALevel, AName, AValue, AForm);                            \
    }

// The same for an integer kind, with AIncludeHex.
#define SI_SESSION_INTEGER(Kind, AType)                                                \
    void Log##Kind(std::string_view AName, AType AValue, bool AIncludeHex = false) {   \
        Log##Kind(DefaultLevel(), AName, AValue, AIncludeHex);                         \
    }                                                                                  \
    void Log##Kind(TSiLevel ALevel, std::string_view AName, AType AValue,              \
                   bool AIncludeHex = false) {                                         \
        Value<false>(ALevel, AName, AValue, NumberForm<AType>(AIncludeHex));           \
    }                                                                                  \
    void Watch##Kind(std::string_view AName, AType AValue, bool AIncludeHex = false) { \
        Watch##Kind(DefaultLevel(), AName, AValue, AIncludeHex);                       \
    }                                                                                  \
    void Watch##Kind(TSiLevel ALevel, std::string_view AName, AType AValue,            \
                     bool AIncludeHex = false) {                                       \
        Value<true>(ALevel, AName, AValue, NumberForm<AType>(AIncludeHex));            \
    }

// One overload of LogValue or Watch that forwards to the member of its kind.
#define SI_SESSION_FORWARD(Name, AType, Member, AValueExpr)            \
    void Name(std::string_view AName, AType AValue) {                  \
        Member(AName, AValueExpr);                                     \
    }                                                                  \
    void Name(TSiLevel ALevel, std::string_view AName, AType AValue) { \
        Member(ALevel, AName, AValueExpr);                             \
    }

// LogValue or Watch: the member for the argument's type. Numbers by their own type; other
// pointers than text are refused (they would silently become Booleans).
#define SI_SESSION_BY_TYPE(Name, Prefix, AWatch)                                       \
    template <class T>                                                                 \
    requires TSiContextInteger<T> || std::floating_point<T>                            \
    void Name(std::string_view AName, T AValue) {                                      \
        Name(DefaultLevel(), AName, AValue);                                           \
    }                                                                                  \
    template <class T>                                                                 \
    requires TSiContextInteger<T> || std::floating_point<T>                            \
    void Name(TSiLevel ALevel, std::string_view AName, T AValue) {                     \
        static_assert(sizeof(T) <= 4 || std::is_signed_v<T> || std::floating_point<T>, \
                      "no " #Name " member for this integer type");                    \
        Value<AWatch>(ALevel, AName, AValue, NumberForm<T>(false));                    \
    }                                                                                  \
    SI_SESSION_FORWARD(Name, bool, Prefix##Boolean, AValue)                            \
    SI_SESSION_FORWARD(Name, char, Prefix##Char, AValue)                               \
    SI_SESSION_FORWARD(Name, std::string_view, Prefix##String, AValue)                 \
    SI_SESSION_FORWARD(Name, const char*, Prefix##PChar, AValue)                       \
    SI_SESSION_FORWARD(Name, std::wstring_view, Prefix##WideString, AValue)            \
    SI_SESSION_FORWARD(Name, const wchar_t*, Prefix##PWideChar, AValue)                \
    SI_SESSION_FORWARD(Name, TSiDateTimeValue, Prefix##DateTime, AValue.Value)         \
    template <typename T>                                                              \
    void Name(std::string_view AName, const T* AValue) = delete;                       \
    template <typename T>                                                              \
    void Name(TSiLevel ALevel, std::string_view AName, const T* AValue) = delete;

// A data member that sends a text (LogCustomText), level pair.
#define SI_SESSION_TEXT(Name, AType, AViewerId)                                   \
    void Name(std::string_view ATitle, std::string_view AText) {                  \
        Name(DefaultLevel(), ATitle, AText);                                      \
    }                                                                             \
    void Name(TSiLevel ALevel, std::string_view ATitle, std::string_view AText) { \
        LogCustomText(ALevel, ATitle, AText, AType, AViewerId);                   \
    }

// A data member that sends a file (LogCustomFile), with or without a title, level pair.
#define SI_SESSION_FILE(Name, AType, AViewerId)                                       \
    void Name(std::string_view AFileName) {                                           \
        Name(DefaultLevel(), AFileName);                                              \
    }                                                                                 \
    void Name(TSiLevel ALevel, std::string_view AFileName) {                          \
        LogCustomFile(ALevel, AFileName, AType, AViewerId);                           \
    }                                                                                 \
    void Name(std::string_view ATitle, std::string_view AFileName) {                  \
        Name(DefaultLevel(), ATitle, AFileName);                                      \
    }                                                                                 \
    void Name(TSiLevel ALevel, std::string_view ATitle, std::string_view AFileName) { \
        LogCustomFile(ALevel, ATitle, AFileName, AType, AViewerId);                   \
    }

// A data member that sends a stream (LogCustomStream), level pair.
#define SI_SESSION_STREAM(Name, AType, AViewerId)                             \
    void Name(std::string_view ATitle, TSiStream* AStream) {                  \
        Name(DefaultLevel(), ATitle, AStream);                                \
    }                                                                         \
    void Name(TSiLevel ALevel, std::string_view ATitle, TSiStream* AStream) { \
        LogCustomStream(ALevel, ATitle, AStream, AType, AViewerId);           \
    }
