// A whole answer's body into a part: the rest of a kept part, or the file
// from its first byte. Both the download and a rebuilt one that the server
// answered whole take it this way.
#pragma once

#include <cstdint>
#include <string>

#include "net/FetchResult.h"
#include "net/HttpExchange.h"
#include "net/PartWriter.h"
#include "net/TransferEvents.h"

namespace net {

// What the answer to a request promises.
struct BodyAnswer {
    uint64_t nStart = 0;        // first byte of the body within the file (a resumed transfer)
    uint64_t nTotal = 0;        // the whole file's length
    std::string strValidator;   // what a later resume must match
};

// Reserves the room, opens the part, reads the open body to its end and
// checks it; nothing touches the disk when the body can't fit on it. The
// part is left for the caller to commit or keep.
FetchResult ReceiveWholeBody(HttpExchange& exchange, PartWriter& writer, const BodyAnswer& answer,
                             TransferMeter& meter);

}  // namespace net
