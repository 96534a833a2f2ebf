// FixPtMath: what libFMWrapper's calculation engine does with fmx::FixPt beyond
// the plug-in interface — rounding to decimal places, powers, roots,
// logarithms, pi. Shared by filemaker-host's number functions; not part of the
// plug-in interface.
//
// Every result takes the precision of `out` (or of the number rounded). A
// function answers false, and leaves `out` not a number, where FileMaker's
// answer is "?" (a negative root, the logarithm of zero, a result beyond 10^400).
#pragma once

#include "FMWrapper.h"

namespace fmx {

enum class Rounding { HalfAwayFromZero, TowardZero, Floor, Ceiling };

// n rounded to `places` digits after the point (a negative count rounds to
// tens, hundreds, …); the result keeps n's precision.
FixPt RoundFixPt(const FixPt& n, int32 places, Rounding mode);

bool PowerFixPt(const FixPt& base, const FixPt& exponent, FixPt& out);
bool SqrtFixPt(const FixPt& n, FixPt& out);
bool ExpFixPt(const FixPt& n, FixPt& out);
bool LnFixPt(const FixPt& n, FixPt& out);
bool Log10FixPt(const FixPt& n, FixPt& out);
void PiFixPt(FixPt& out);
void SetNotANumber(FixPt& out);
// -1, 0 or 1, of the value as it shows.
int SignFixPt(const FixPt& n);

}  // namespace fmx
