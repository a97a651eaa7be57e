#pragma once
// MPTapElement: the program's element on the player's audio or video path. It takes the
// raw format of its kind (RawFormat: interleaved S16LE/F32LE audio, BGRx video; the
// converters in front of it negotiate), shows each buffer to its client, writable and in
// place, and passes it on: what the client wrote is what plays.
//
// The client hears, besides formats and buffers, when the pipeline is about to wait for
// the streaming thread inside it (a flush starts on the thread that seeks, the element
// leaves PAUSED) and when data may flow again (the flush ends, the element is PAUSED
// again), so that a client that waits inside a buffer call can let go in time.
//
// The element holds its client; the client must not hold the element (hold a weak
// reference where needed), since the element may outlive it inside a pipeline.

#include <gst/gst.h>

#include <memory>

#include "typelib/NorvViewTypes.h"

namespace norv::media {

class MPTapElement {
public:
    struct Client {
        virtual ~Client() = default;
        // A format was negotiated; the streaming thread, before its first buffer.
        virtual void tapCaps(GstCaps* caps) = 0;
        // A buffer of the last format, writable; the streaming thread.
        virtual void tapBuffer(GstBuffer* buffer, const GstSegment& segment) = 0;
        // The pipeline is about to wait for the streaming thread; any thread.
        virtual void tapInterrupt() = 0;
        // Data may flow again; any thread.
        virtual void tapResume() = 0;
    };

    // A new element (floating) of kind mpsAudio or mpsVideo.
    static GstElement* create(typelib::MPStreamType kind, std::shared_ptr<Client> client,
                              const char* name = nullptr);
    // Replaces the element's client (null: buffers pass untouched).
    static void setClient(GstElement* element, std::shared_ptr<Client> client);
    // Whether `element` is a tap element.
    static bool isTap(GstElement* element);
};

} // namespace norv::media
