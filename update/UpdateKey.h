// The public key signed releases must verify with, built in by configuring
// with -DUPDATE_PUBLIC_KEY=<public.pem> (which also defines SELFRENEW_UPDATE_KEY).
#pragma once

const unsigned UPDATE_KEY_BYTES = 64;

// The raw P-256 key (X||Y), or nullptr in a build without one: such a build
// updates unsigned, exactly as before.
const unsigned char* BuiltInUpdateKey();
