#pragma once

// The window names the fonts of its original platform ("ＭＳ Ｐゴシック", "ＭＳ ゴシック",
// Arial). This maps them to the free fonts that stand in for them on Debian: IPA P Gothic
// (proportional), IPA Gothic (fixed pitch) and Liberation Sans, which covers Arial's metrics.
// Process-wide; call it before the first window is created. Calling it again changes nothing.
void installFontSubstitutions();
