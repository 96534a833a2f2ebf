// FMWrapper/FMXClient.h: what every value header shares.
//
// Plug-ins make values only through their holders (TextUniquePtr and the
// rest): the constructors are not theirs to call, as in FileMaker's own
// framework. The host and this library build values directly; they compile
// with FMX_STANDIN_HOST defined (the quill_fmx_host target), which opens the
// constructors to them. Only access differs, never the layout.
#pragma once

#include <memory>
#include <new>
#include <stdexcept>

#include "FMWrapper/FMXExtern.h"

#if defined(FMX_STANDIN_HOST)
#define FMX_STANDIN_CONSTRUCTION public
#else
#define FMX_STANDIN_CONSTRUCTION private
#endif

extern "C++" {
namespace fmx {
class QuadChar;
class Locale;
class Text;
class FixPt;
class DateTime;
class BinaryData;
class Data;
class DataVect;
class ExprEnv;
class QuadCharUniquePtr;
class LocaleUniquePtr;
class TextUniquePtr;
class FixPtUniquePtr;
class DateTimeUniquePtr;
class DataUniquePtr;
class DataVectUniquePtr;
class ExprEnvUniquePtr;
}  // namespace fmx
}
