// The built-in release key, from the header the build generates.
#include "update/UpdateKey.h"

#ifdef SELFRENEW_UPDATE_KEY
#include "UpdatePublicKey.h"
#endif

const unsigned char* BuiltInUpdateKey() {
#ifdef SELFRENEW_UPDATE_KEY
    return UPDATE_PUBLIC_KEY_XY;
#else
    return nullptr;
#endif
}
