// Loads the plug-in and prints its name, version and file extensions.
#include <tesk/host/PluginLoader.h>
#include <zelm/Exception.h>

#include <iostream>

int main(int argc, char** argv) {
    if (argc > 2) {
        std::cerr << "usage: tesk_demo [PLUGIN]\n";
        return 2;
    }
    try {
        const tesk::host::CPluginLoader loader(argc == 2 ? argv[1] : "",
                                               tesk::host::makeStreamLogSink(std::cerr));
        const auto& plugin = loader.getPlugin();
        std::cout << "plug-in: " << plugin->getName().toStdString() << '\n'
                  << "plug-in version: " << plugin->getVersion() << '\n'
                  << "extensions:";
        const auto extensions = plugin->getExtensions(2);
        for (int i = 0; i < extensions->getCount(); ++i) {
            std::cout << ' ' << extensions->getExtension(i).toStdString();
        }
        std::cout << '\n';
    } catch (const zelm::CException& error) {
        std::cerr << "tesk_demo: " << error.getDescription().toStdString() << '\n';
        return 1;
    }
    return 0;
}
