#include "input/describe.h"

#include <memory>

#include "input/coordinates.h"

namespace brix::input {

std::optional<InputFacts> describe_inputs(const std::string& xy, const std::string& recon,
                                          int order, const ReadMode& mode) {
  records::Unit& file = records::Unit::file();
  std::string echoes;  // what a run says of the files on its console
  records::Unit console(&echoes);
  const auto data = std::make_unique<RunData>();
  if (!file.open_old(xy)) return std::nullopt;
  read_coordinates(file, console, order, *data);
  if (!file.open_old(recon)) return std::nullopt;
  read_reconstruction(file, console, *data, mode);
  return InputFacts{data->n_points, data->n_band, data->first_year, data->last_year,
                    data->n_years};
}

}  // namespace brix::input
