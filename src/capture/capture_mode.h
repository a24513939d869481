#pragma once

// How a source is to be opened: a live interface or a file, and whether a
// live interface goes into promiscuous mode (ignored for files).
struct capture_mode {
    bool live = false;
    bool promiscuous = true;
};
