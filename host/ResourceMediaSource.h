#pragma once
// ResourceMediaSource: a GStreamer source for the program's `res` addresses, so that the
// media player plays what the program's own pages name, the clips they ship with among
// them (res:///NAME or res://<executable path>/NAME, as the browser reads them).

namespace norv::host {

// Makes `res` addresses playable in this process (once; later calls do nothing). False
// when GStreamer refused the element.
bool registerResourceMediaSource();

} // namespace norv::host
