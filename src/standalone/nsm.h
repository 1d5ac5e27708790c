// The program in a session manager's session (New Session Manager's OSC
// protocol, which RaySession and Carla speak too), through liblo. With
// NSM_URL set, the program announces itself (capabilities :switch:dirty:)
// and waits for the session to open; the session names its JACK client
// (the client id) and its files under the path it gives: PATH.texte, what
// Ctrl+S writes (the current bank, a patch any quorvanel reads), and
// PATH.instrument, the whole instrument (the ten banks, the banks in play,
// each bank's selection and solo mode). A save from the session (and
// Ctrl+S) writes both; an open restores the whole instrument, or loads the
// bank alone when the session holds only that. Every message is answered. The server hears when the instrument was edited
// since (a key, a click, a MIDI key command) and when it is saved again.
// Everything runs on the main thread: the socket joins the main loop's
// wait. SIGTERM ends the program as it always does.
//
// Built with QUORVANEL_NSM=0 the module is a stub: NSM_URL is ignored with
// one line.
#pragma once

#include <poll.h>

#include <string>

class LaceyBanks;

#ifndef QUORVANEL_NSM
#define QUORVANEL_NSM 1
#endif

// What the program does when the session asks for another one (a switch):
// play as the JACK client `id` and load the patch `file` when it exists.
// False, with the reason, when it cannot.
using NsmSwitch = bool (*)(const char* id, const char* file, std::string& why);

// Without NSM_URL: false, and nothing else happens. Otherwise announces the
// program (`executable`: argv[0]) and waits for the session to open; true
// once it has. A refusal or a server that does not answer within seconds
// ends the program with one line and status 1; SIGTERM meanwhile, with 0.
bool nsm_begin(const char* executable, NsmSwitch onSwitch);
// True between nsm_begin and the end.
bool nsm_active();
// The client id the session gave (the JACK client's name) and the patch file.
const char* nsm_client_id();
const char* nsm_file();
// What an open found of the whole instrument (PATH.instrument): none,
// restored into the engine, restored with the bank file newer still (a
// save that could write the bank alone, while a take was recorded), or a
// file that cannot be read (`why` says why; the engine is left alone).
enum class NsmRestore { Nothing, Whole, WholeBankNewer, Unreadable };
NsmRestore nsm_restore(LaceyBanks& engine, std::string& why);
// Whether the session opened last keeps a whole instrument.
bool nsm_keeps_instrument();
// The engine whose whole instrument each save writes beside the bank; null
// (while a take is recorded: a take carries the bank alone) writes the bank
// alone and leaves the instrument file as it is.
void nsm_keep(LaceyBanks* engine);
// Answers the open: /reply, or /error with `why` when not null.
void nsm_opened(const char* why);
// Handles every message waiting; returns how many. Never waits.
int nsm_run();
// The socket to wait on; 0 when not in a session.
int nsm_pollfds(pollfd* fds, int room);
// The player edited the instrument: the server hears it is dirty (once
// until the next save).
void nsm_edited();
// Ctrl+S in a session: saves to the session's file and tells the server.
// False when not in a session (Ctrl+S then writes output.texte).
bool nsm_save();
