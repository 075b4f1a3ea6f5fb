#pragma once
// The demonstration page at /demo/: a web page that uses the control through orbscan.js and
// the local host, with this server as its upload address.

#include <string>

namespace httplib {
struct Request;
struct Response;
}  // namespace httplib

namespace dorvex::refserver {

class Storage;

// Answers GET /demo/ (the page), /demo/holdings (what the server holds, JSON) and
// /demo/enc?text= (a text enciphered as a web application would hand it to the control).
// False when the path is not the demonstration's.
bool ServeDemo(const httplib::Request& request, httplib::Response& response, Storage& storage,
               const std::string& baseUrl);

}  // namespace dorvex::refserver
