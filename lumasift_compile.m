function lumasift_compile(out_dir)
%LUMASIFT_COMPILE Build the lumasift modules for this host, MATLAB or Octave.
%   LUMASIFT_COMPILE builds the three modules from the sources of filter/
%   and gateway/ into gateway/, beside their M files, with the host's own
%   compiler command: mex in MATLAB, mkoctfile --mex in Octave. They are
%   lumasift (the filter itself), imlumasift_mex (the tiles behind
%   IMLUMASIFT) and lumasift_edges_mex (behind LUMASIFT_EDGES). Then
%      addpath(fullfile(pwd, 'gateway'), fullfile(pwd, 'demo'))
%   makes lumasift, imlumasift, lumasift_edges, their help and lumasift_demo
%   work from anywhere.
%
%   LUMASIFT_COMPILE(OUT_DIR) puts the modules in OUT_DIR instead, with
%   copies of the M files.
%
%   In MATLAB the modules use the separate complex API (mex -R2017b), which
%   needs MATLAB R2018a or later. On Windows, MinGW-w64 and MSVC builds run
%   the plain lanes, without AVX2 or AVX-512.
%
%   See also LUMASIFT, IMLUMASIFT, LUMASIFT_DEMO.

root = fileparts(mfilename('fullpath'));
gateway_dir = fullfile(root, 'gateway');
if nargin < 1 || isempty(out_dir)
    out_dir = gateway_dir;
end
core = [files_in(fullfile(root, 'filter')), files_in(fullfile(root, 'filter', 'lanes')), ...
        {fullfile(gateway_dir, 'interrupt.cpp')}];
% The toolbox's modules are Octave's own oct-files in Octave, MEX files in
% MATLAB; lumasift is a MEX file in both.
in_octave = exist('OCTAVE_VERSION', 'builtin') ~= 0;
if in_octave
    toolbox = {fullfile(gateway_dir, 'octave_images.cpp'), 'imlumasift_oct.cpp', 'lumasift_edges_oct.cpp'};
else
    toolbox = {fullfile(gateway_dir, 'images.cpp'), 'imlumasift_gateway.cpp', 'lumasift_edges_gateway.cpp'};
end
modules = {'lumasift', {fullfile(gateway_dir, 'gateway.cpp')}, true; ...
           'imlumasift_mex', {toolbox{1}, fullfile(gateway_dir, toolbox{2})}, ~in_octave; ...
           'lumasift_edges_mex', {toolbox{1}, fullfile(gateway_dir, toolbox{3})}, ~in_octave};
for k = 1:size(modules, 1)
    build(fullfile(out_dir, modules{k, 1}), [core, modules{k, 2}], modules{k, 3});
end
if ~strcmp(out_dir, gateway_dir)
    m_files = dir(fullfile(gateway_dir, '*.m'));
    for k = 1:numel(m_files)
        copyfile(fullfile(gateway_dir, m_files(k).name), out_dir);
    end
end
end

function names = files_in(folder)
listing = dir(fullfile(folder, '*.cpp'));
names = cell(1, numel(listing));
for k = 1:numel(listing)
    names{k} = fullfile(folder, listing(k).name);
end
end

% Results must not depend on the compiler fusing a multiply and an add, and
% a module exports mexFunction alone.
function build(output, sources, is_mex)
if exist('OCTAVE_VERSION', 'builtin')
    if is_mex
        kind = {'--mex'};
        output = [output '.mex'];
    else
        kind = {};
        output = [output '.oct'];
    end
    flags = getenv('CXXFLAGS');
    setenv('CXXFLAGS', [flags ' -O2 -ffp-contract=off -fvisibility=hidden -fvisibility-inlines-hidden']);
    cleanup = onCleanup(@() setenv('CXXFLAGS', flags));
    [text, status] = mkoctfile(kind{:}, '-o', output, sources{:});
    if status ~= 0
        error('lumasift_compile: mkoctfile failed:\n%s', text);
    end
elseif ispc && ~isempty(strfind(lower(mex.getCompilerConfigurations('C++', 'Selected').Name), 'microsoft'))
    mex('-R2017b', 'COMPFLAGS=$COMPFLAGS /std:c++17 /fp:precise', '-output', output, sources{:});
else
    mex('-R2017b', 'CXXFLAGS=$CXXFLAGS -std=c++17 -pthread -ffp-contract=off -fvisibility=hidden', ...
        'LDFLAGS=$LDFLAGS -pthread', '-output', output, sources{:});
end
fprintf('built %s\n', output);
end
