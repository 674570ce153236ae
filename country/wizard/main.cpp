// The country configuration program (Meridia).
#include "country/wizard/country_app.h"
#include "country/wizard/version_text.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    std::vector<std::string> parameters(argv + 1, argv + argc);
    if (parameters.size() == 1 && parameters[0] == "--version") {
        std::cout << CountryVersionText();
        return 0;
    }
    std::unique_ptr<IProcessServices> services = MakeProcessServices();
    int result = 0;
    {
        CCountryApp app(*services, std::cerr);
        result = app.Start(parameters);
    }
    return result;
}
