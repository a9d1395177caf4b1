#pragma once

// Connects the library to the key server. The key ring and the credentials
// only know small seams (a connector factory, a user id lookup) so that they
// need not link the network code; a program that talks to the key server
// (the desktop application, avlt) calls installKeyServerClient() once at
// start-up. Afterwards the key ring's connector is an AVServerConnector bound
// to it, and a login name that no key-ring file knows is resolved to its
// numeric id with "GetLoginID3" (connection failures not reported).

// Installs both seams on the process-wide key ring and the credentials.
void installKeyServerClient();
// Removes them again: the key server then counts as unreachable.
void removeKeyServerClient();
