#pragma once

// The fields of the settings image, in image order, written once for the
// project's record, the viewer's record, the offsets, the writer and the
// readers. Portable: viewer.exe compiles the viewer's side.
//
// VIEWER(type, name, offset, initial) for the fields the viewers read too,
// COMPILER(type, name, offset, initial) for those only the compiler keeps.
// `type` is Text for a short string (a length byte and 255 bytes in the
// writer's code page; each record says what it holds it in), else the C++
// type; `initial` is the project's value at program start. The version
// stamp at 1842 is the project's alone and not listed.
#define QV_SETTINGS_FIELDS(VIEWER, COMPILER)                                                    \
    VIEWER(Text, HomePage, 0, {})                                                               \
    COMPILER(bool, OutputIsExe, 256, true)                                                      \
    COMPILER(Text, OutputPath, 257, {})                                                         \
    VIEWER(int32_t, BorderType, 516, 2) /* 0 none, 1 fixed, 2 sizable, 3 full screen */         \
    VIEWER(int32_t, ViewWidth, 520, 0)  /* client area in pixels; 0 when never set */           \
    VIEWER(int32_t, ViewHeight, 524, 0)                                                         \
    COMPILER(Text, LogoPath, 528, {})                                                           \
    COMPILER(bool, ViewerFlag, 784, true)                                                       \
    VIEWER(bool, Shadow, 785, false)                                                            \
    VIEWER(bool, HideScrollbars, 786, false)                                                    \
    VIEWER(bool, Centered, 787, false)                                                          \
    VIEWER(bool, ShowToolbar, 788, true)                                                        \
    VIEWER(bool, ShowCaptions, 789, true)                                                       \
    VIEWER(bool, ShowStatusbar, 790, true)                                                      \
    VIEWER(bool, EnableCopy, 791, true)                                                         \
    VIEWER(bool, EnableSearch, 792, true)                                                       \
    VIEWER(bool, EnablePrint, 793, true)                                                        \
    VIEWER(bool, EnableFont, 794, true)                                                         \
    VIEWER(Text, Password, 795, {}) /* empty: none */                                           \
    VIEWER(bool, ExpiryEnabled, 1051, false)                                                    \
    VIEWER(double, ExpiryDate, 1056, 0.0) /* days since 30 December 1899 */                     \
    COMPILER(Text, IncludeMask, 1064, "*.*")                                                    \
    VIEWER(Text, DirectMask, 1320, "*.exe") /* ";"-separated masks of files kept beside */      \
    VIEWER(bool, CursorOption, 1576, false)                                                     \
    COMPILER(int32_t, CompressionLevel, 1580, 0) /* 0 default, 1 fastest, 2 maximum, 3 none */ \
    VIEWER(Text, UserAgent, 1584, {}) /* empty: the browser's own */                            \
    VIEWER(bool, ContextMenu, 1840, true)

// For the side that leaves a group of fields out.
#define QV_SETTINGS_SKIP(type, name, offset, initial)
