// Documents come from strangers: what they link to outside themselves (an
// image or a section on a file: URL, a web address, a formula that fetches
// one) is never followed. The office's settings block the links of every
// document that is not in a trusted location (the office then takes the
// document's own address as the origin of its links; no location is
// trusted in a fresh profile) and never update links. A load that named an
// untrusted origin itself would be refused by the office as a whole.
#pragma once

#include "servers/office/OfficeBridge.h"

namespace pm::office {

// Sets the office's link settings for its whole life (its profile keeps
// them): called once a session is connected, before any document loads.
void lockLinks(Session& s);

}  // namespace pm::office
