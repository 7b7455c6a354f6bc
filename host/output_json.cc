// The run as one JSON object (see output.h), written with nlohmann::json.
// Keys keep the order of the documented schema; every string is made valid
// UTF-8 first, and the writer would replace anything that slipped through
// rather than fail.
#include <nlohmann/json.hpp>

#include "display_text.h"
#include "output.h"

namespace vantlow::host {
namespace {

using Json = nlohmann::ordered_json;

Json ItemsJson(const std::vector<MenuItem> &items) {
  Json array = Json::array();
  for (const MenuItem &item : items) {
    Json entry = Json::object();
    entry["text"] = ValidUtf8(item.text);
    if (item.hasSubmenu) {
      entry["submenu"] = ItemsJson(item.submenu);
    } else {
      entry["command"] = item.command;
      if (item.attributes != 0) entry["attributes"] = item.attributes;
    }
    array.push_back(std::move(entry));
  }
  return array;
}

} // namespace

std::string ReportJson(const RunReport &report) {
  Json root = Json::object();
  Json selection = Json::array();
  for (const std::string &path : report.selection)
    selection.push_back(ValidUtf8(path));
  root["selection"] = std::move(selection);

  Json plugins = Json::array();
  for (const PluginReport &plugin : report.plugins)
    plugins.push_back(
        Json{{"identifier", ValidUtf8(plugin.identifier)}, {"status", plugin.status}});
  root["plugins"] = std::move(plugins);

  root["menu"] = ItemsJson(report.menu);

  if (report.chosen) {
    Json chosen = Json::object();
    chosen["command"] = report.chosen->command;
    chosen["status"] = report.chosen->status;
    if (report.chosen->copied)
      chosen["copied"] = ValidUtf8(*report.chosen->copied);
    else
      chosen["copied"] = nullptr;
    root["chosen"] = std::move(chosen);
  }
  return root.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

} // namespace vantlow::host
