// The keyboard thread: reads the key bytes, decodes them and queues the keys for the run.
#pragma once

#include "platform/console/front_end_mode.h"
#include "platform/console/key_decoder.h"

// Starts reading key_fd on a thread of its own, with an empty queue. False when the system
// gives no thread for it, or no pipe to stop it by.
bool start_keyboard(int key_fd, FrontEndMode mode);

// Stops the thread and waits for it; the keys still queued are dropped.
void stop_keyboard();

enum class KeyWait { Key, Timeout, EndOfKeys };

// How long a wait for a key of an answer (a prompt's, the failure box's) lasts before it looks
// at the end request again; a bell's pause looks as often.
constexpr int answer_wait_milliseconds = 10;

// Takes the next key, waiting at most timeout_milliseconds for one. EndOfKeys once key_fd has
// ended (or failed) and every key before its end has been taken.
KeyWait wait_for_key(int timeout_milliseconds, Key& key);

// True when a key is already waiting: queued, being decoded, or typed and not read yet.
bool key_waiting();

// Drops every key already queued.
void drop_waiting_keys();
