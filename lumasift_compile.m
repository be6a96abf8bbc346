function lumasift_compile(out_dir)
%LUMASIFT_COMPILE Build the lumasift module for this host, MATLAB or Octave.
%   LUMASIFT_COMPILE builds the module from the sources of filter/ and
%   gateway/ into gateway/, beside its help file lumasift.m, with the host's
%   own compiler command: mex in MATLAB, mkoctfile --mex in Octave. Then
%      addpath(fullfile(pwd, 'gateway'), fullfile(pwd, 'demo'))
%   makes lumasift, help lumasift and lumasift_demo work from anywhere.
%
%   LUMASIFT_COMPILE(OUT_DIR) puts the module in OUT_DIR instead.
%
%   See also LUMASIFT, LUMASIFT_DEMO.

root = fileparts(mfilename('fullpath'));
if nargin < 1 || isempty(out_dir)
    out_dir = fullfile(root, 'gateway');
end
listing = [dir(fullfile(root, 'filter', '*.cpp')); dir(fullfile(root, 'filter', 'lanes', '*.cpp')); dir(fullfile(root, 'gateway', '*.cpp'))];
sources = cell(1, numel(listing));
for k = 1:numel(listing)
    sources{k} = fullfile(listing(k).folder, listing(k).name);
end

% Results must not depend on the compiler fusing a multiply and an add.
if exist('OCTAVE_VERSION', 'builtin')
    output = fullfile(out_dir, 'lumasift.mex');
    flags = getenv('CXXFLAGS');
    setenv('CXXFLAGS', [flags ' -O2 -ffp-contract=off']);
    cleanup = onCleanup(@() setenv('CXXFLAGS', flags));
    [text, status] = mkoctfile('--mex', '-o', output, sources{:});
    if status ~= 0
        error('lumasift_compile: mkoctfile failed:\n%s', text);
    end
elseif ispc
    output = fullfile(out_dir, 'lumasift');
    mex('-R2017b', 'COMPFLAGS=$COMPFLAGS /std:c++17 /fp:precise', '-output', output, sources{:});
else
    output = fullfile(out_dir, 'lumasift');
    mex('-R2017b', 'CXXFLAGS=$CXXFLAGS -std=c++17 -pthread -ffp-contract=off', ...
        'LDFLAGS=$LDFLAGS -pthread', '-output', output, sources{:});
end
fprintf('built %s\n', output);
end
