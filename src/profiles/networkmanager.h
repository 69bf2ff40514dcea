#pragma once
// The process's one QNetworkAccessManager, shared by the provider probe and
// the Micropub client so they share its connections and caches.

class QNetworkAccessManager;

namespace profiles {

// Main thread only: made on first use, gone with the application. It follows
// no redirect by itself, so a request's key or token never reaches another
// origin; callers read a 3xx as an answer.
QNetworkAccessManager *networkManager();

} // namespace profiles
