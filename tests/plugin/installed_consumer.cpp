// A program built only against an installed tesk_quor: it loads the plug-in,
// checks what the plug-in offers and releases everything. Built with a leak
// sanitizer, it fails when anything stays behind.
#include <tesk/host/PluginLoader.h>
#include <zelm/Exception.h>

#include <iostream>

namespace {

bool check(bool condition, const char* what) {
    if (!condition) {
        std::cerr << "installed plug-in: " << what << '\n';
    }
    return condition;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: consumer PLUGIN\n";
        return 2;
    }
    try {
        const tesk::host::CPluginLoader loader(argv[1], tesk::host::LogSink());
        const auto& plugin = loader.getPlugin();
        const auto all = plugin->getExtensions(2);
        const auto none = plugin->getExtensions(0);
        const bool good =
            check(plugin->getName().toStdString() == "tesk_quor", "name is not tesk_quor") &
            check(plugin->getVersion() == 2, "version is not 2") &
            check(all->getCount() == 1 && all->getExtension(0).toStdString() == "mp3",
                  "flag 2 does not give the one extension mp3") &
            check(none->getCount() == 0, "flag 0 gives extensions") &
            check(loader.getHost()->getMemoryManager()->allocate(16384)->getCapacity() == 32768,
                  "the host's memory manager does not hand out blocks");
        std::cout << plugin->getName().toStdString() << ' ' << plugin->getVersion() << '\n';
        return good ? 0 : 1;
    } catch (const zelm::CException& error) {
        std::cerr << "installed plug-in: " << error.getDescription().toStdString() << '\n';
        return 1;
    }
}
